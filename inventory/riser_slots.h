// Per-riser slot handlers: where every slot of every riser card is wired.
#pragma once

#include "../include/smbios_records.h"

// Position of a slot among the record builders' slots: 0 and 1 are the
// mezzanine slots, 2, 3 and 4 the first, second and third slot of a riser card.
inline constexpr UINTN FIRST_RISER_SLOT_INDEX = 2;

// Describes slot SlotIndex of the riser's card in the riser's shared record
// buffer. Capacity holds the buffer's size. A handler does nothing for a slot
// index it does not serve, and always succeeds.
typedef EFI_STATUS (*RiserSlotHandler)(VOID *Record, UINTN *Capacity, UINTN SlotIndex);

EFI_STATUS NoRiserSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser1OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser1TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser1ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser2OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser2TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser2ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser3OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
EFI_STATUS Riser3TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);
