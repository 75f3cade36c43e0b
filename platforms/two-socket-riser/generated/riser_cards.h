// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions' handlers, handler tables, card maps and routines;
// included by inventory/riser_slots.h.

#pragma once

// Slot count of the card each identifier names (riser1, riser2), or NO_CARD.
inline constexpr UINTN RISER_SLOT_MAP_SIZE = 8;
extern const UINT8 RiserSlotMap[RISER_SLOT_MAP_SIZE];

// Slot count of the card each identifier names (riser3), or NO_CARD.
inline constexpr UINTN RISER3_SLOT_MAP_SIZE = 4;
extern const UINT8 Riser3SlotMap[RISER3_SLOT_MAP_SIZE];

// Riser 1.
EFI_STATUS Riser1OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser1TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser1ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable Riser1HandlerTable;
void AddRiser1Slots();

// Riser 2.
EFI_STATUS Riser2OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser2TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser2ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable Riser2HandlerTable;
void AddRiser2Slots();

// Riser 3.
EFI_STATUS Riser3OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser3TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
extern const RiserHandlerTable Riser3HandlerTable;
void AddRiser3Slots();
