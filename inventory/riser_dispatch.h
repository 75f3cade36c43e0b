// Turns the fitted riser cards into Type 9 records, riser by riser.
#pragma once

#include "riser_slots.h"

// Slot codes of risers 1 and 2 indexed by identifier 0 to 6; the slot count
// is code - 2. Identifier 7 (no riser) has no code.
inline constexpr UINTN RISER_SLOT_MAP_SIZE = 7;
extern const UINT8 RiserSlotMap[RISER_SLOT_MAP_SIZE];

// Handlers indexed by slot count 0 to 3.
inline constexpr UINTN RISER_HANDLER_TABLE_SIZE = 4;
typedef RiserSlotHandler RiserHandlerTable[RISER_HANDLER_TABLE_SIZE];
extern const RiserHandlerTable Riser1HandlerTable;
extern const RiserHandlerTable Riser2HandlerTable;
extern const RiserHandlerTable Riser3HandlerTable;

// Adds the slots of every fitted riser, 1, then 2, then 3. Always EFI_SUCCESS.
EFI_STATUS AddRiserSlots();

void AddRiser1Slots();
void AddRiser2Slots();
void AddRiser3Slots();
