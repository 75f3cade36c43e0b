// Riser slot handlers: the signature of every card's handler, and what the
// platform's handlers (riser_cards.cpp, generated from its description)
// describe their slots with.
#pragma once

#include "../include/smbios_records.h"
#include "slot_fill.h"

// Position of a slot among the record builders' slots: the mezzanine slots
// come first, then the first, second, ... slot of a riser card.
inline constexpr UINTN FIRST_RISER_SLOT_INDEX = MEZZANINE_SLOT_COUNT;

// Describes slot SlotIndex of the riser's card in the riser's shared record
// buffer. Capacity holds the buffer's size. A handler does nothing for a slot
// index it does not serve, and always succeeds.
typedef EFI_STATUS (*RiserSlotHandler)(VOID *Record, UINTN *Capacity, UINTN SlotIndex);

// A position's handlers indexed by slot count, 0 to the most slots a card of
// the platform has; null where the position has no card of that count.
typedef RiserSlotHandler RiserHandlerTable[RISER_HANDLER_TABLE_SIZE];

// Slot count 0: nothing to describe.
EFI_STATUS NoRiserSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex);

// A card's slot index picks its entry of Slots; an index the card does not
// have (one below the first wraps past Count) describes nothing.
EFI_STATUS DescribeServedSlotOf(VOID *Record, UINTN SlotIndex, const SlotDescription *Slots,
                                UINTN Count);

template <UINTN Count>
EFI_STATUS DescribeServedSlot(VOID *Record, UINTN SlotIndex,
                              const SlotDescription (&Slots)[Count]) {
  return DescribeServedSlotOf(Record, SlotIndex, Slots, Count);
}

// A one-slot card has only the first slot index.
EFI_STATUS DescribeOneSlotCard(VOID *Record, UINTN SlotIndex, const SlotDescription &Slot);

// The wiring of a one-slot card whose wiring depends on the riser identifier,
// from its table indexed by identifier; an identifier the card is not wired
// for has UNWIRED_SLOT, which leaves the slot fields untouched.
template <UINTN IdentifierCount>
const SlotShape &OneSlotWiring(const SlotShape (&Wiring)[IdentifierCount], UINT8 Identifier) {
  return Wiring[Identifier % IdentifierCount];
}

// The platform's handlers, handler tables, card maps and position routines.
#include "riser_cards.h"
