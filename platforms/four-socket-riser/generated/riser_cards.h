// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions' handlers, handler tables, card maps and routines;
// included by inventory/riser_slots.h.

#pragma once

// Slot count of the card each identifier names (front), or NO_CARD.
inline constexpr UINTN FRONT_CARD_MAP_SIZE = 2;
extern const UINT8 FrontCardMap[FRONT_CARD_MAP_SIZE];

// Slot count of the card each identifier names (rear), or NO_CARD.
inline constexpr UINTN REAR_CARD_MAP_SIZE = 256;
extern const UINT8 RearCardMap[REAR_CARD_MAP_SIZE];

// Front riser.
EFI_STATUS FrontOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable FrontHandlerTable;
void AddFrontSlots();

// Rear riser.
EFI_STATUS RearTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS RearFourSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS RearEightSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable RearHandlerTable;
void AddRearSlots();
