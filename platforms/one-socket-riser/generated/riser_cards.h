// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions' handlers, handler tables, card maps and routines;
// included by inventory/riser_slots.h.

#pragma once

// Slot count of the card each identifier names (upper), or NO_CARD.
inline constexpr UINTN UPPER_CARD_MAP_SIZE = 4;
extern const UINT8 UpperCardMap[UPPER_CARD_MAP_SIZE];

// Slot count of the card each identifier names (lower), or NO_CARD.
inline constexpr UINTN LOWER_CARD_MAP_SIZE = 4;
extern const UINT8 LowerCardMap[LOWER_CARD_MAP_SIZE];

// Upper riser.
EFI_STATUS UpperOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS UpperTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable UpperHandlerTable;
void AddUpperSlots();

// Lower riser.
EFI_STATUS LowerOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS LowerTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS LowerThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable LowerHandlerTable;
void AddLowerSlots();
