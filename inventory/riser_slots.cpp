#include "riser_slots.h"

#include "riser_ids.h"
#include "slot_fill.h"

namespace {

// The four wirings that several riser cards share.
constexpr SlotShape SOCKET0_GROUP1_X16 = {0, 1, 0, SlotWidth::X16};
constexpr SlotShape SOCKET0_GROUP3_DEV2_X8 = {0, 3, 2, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_X16 = {1, 2, 0, SlotWidth::X16};
constexpr SlotShape SOCKET1_GROUP1_X8 = {1, 1, 0, SlotWidth::X8};

// Wirings used by one card only.
constexpr SlotShape SOCKET0_GROUP1_X8 = {0, 1, 0, SlotWidth::X8};
constexpr SlotShape SOCKET0_GROUP1_DEV2_X8 = {0, 1, 2, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_DEV2_X8 = {1, 2, 2, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_X8 = {1, 2, 0, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP3_X16 = {1, 3, 0, SlotWidth::X16};
constexpr SlotShape SOCKET1_GROUP3_X8 = {1, 3, 0, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP3_DEV2_X8 = {1, 3, 2, SlotWidth::X8};

// String ids of the designations in the driver's string package.
constexpr EFI_STRING_ID RISER1_SLOT1 = 4;  // "Riser 1, slot 1"
constexpr EFI_STRING_ID RISER1_SLOT2 = 5;
constexpr EFI_STRING_ID RISER1_SLOT3 = 6;
constexpr EFI_STRING_ID RISER2_SLOT1 = 7;  // "Riser 2, slot 1"
constexpr EFI_STRING_ID RISER2_SLOT2 = 8;
constexpr EFI_STRING_ID RISER2_SLOT3 = 9;
constexpr EFI_STRING_ID RISER3_SLOT1 = 10;  // "Riser 3, slot 1"
constexpr EFI_STRING_ID RISER3_SLOT2 = 11;

// Each card's slots in slot-index order, from FIRST_RISER_SLOT_INDEX.
// Slot IDs are not dense: a two-slot card numbers its second slot like the
// third slot of the three-slot card, the slot it physically replaces.
constexpr SlotDescription RISER1_TWO_SLOTS[] = {
    {1, RISER1_SLOT1, SOCKET0_GROUP1_X16},
    {3, RISER1_SLOT2, SOCKET0_GROUP3_DEV2_X8},
};
constexpr SlotDescription RISER1_THREE_SLOTS[] = {
    {1, RISER1_SLOT1, SOCKET0_GROUP1_X8},
    {2, RISER1_SLOT2, SOCKET0_GROUP1_DEV2_X8},
    {3, RISER1_SLOT3, SOCKET0_GROUP3_DEV2_X8},
};
constexpr SlotDescription RISER2_TWO_SLOTS[] = {
    {4, RISER2_SLOT1, SOCKET1_GROUP2_X16},
    {6, RISER2_SLOT2, SOCKET1_GROUP1_X8},
};
constexpr SlotDescription RISER2_THREE_SLOTS[] = {
    {4, RISER2_SLOT1, SOCKET1_GROUP2_DEV2_X8},
    {5, RISER2_SLOT2, SOCKET1_GROUP2_X8},
    {6, RISER2_SLOT3, SOCKET1_GROUP1_X8},
};
constexpr SlotDescription RISER3_ONE_SLOT[] = {
    {7, RISER3_SLOT1, SOCKET1_GROUP3_X16},
};
constexpr SlotDescription RISER3_TWO_SLOTS[] = {
    {7, RISER3_SLOT1, SOCKET1_GROUP3_X8},
    {8, RISER3_SLOT2, SOCKET1_GROUP3_DEV2_X8},
};

// One-slot cards of risers 1 and 2 come in two wirings told apart by the
// riser identifier; any other identifier leaves the slot fields untouched.
constexpr UINTN RISER_IDENTIFIER_COUNT = 8;
constexpr SlotShape RISER1_ONE_SLOT_WIRING[RISER_IDENTIFIER_COUNT] = {
    SOCKET0_GROUP1_X16, SOCKET0_GROUP3_DEV2_X8, UNWIRED_SLOT,           UNWIRED_SLOT,
    SOCKET0_GROUP1_X16, UNWIRED_SLOT,           SOCKET0_GROUP3_DEV2_X8, UNWIRED_SLOT,
};
constexpr SlotShape RISER2_ONE_SLOT_WIRING[RISER_IDENTIFIER_COUNT] = {
    SOCKET1_GROUP2_X16, SOCKET1_GROUP1_X8, UNWIRED_SLOT,      UNWIRED_SLOT,
    SOCKET1_GROUP2_X16, UNWIRED_SLOT,      SOCKET1_GROUP1_X8, UNWIRED_SLOT,
};

// A card's slot index picks its entry; an index the card does not have (one
// below the first wraps past Count) describes nothing.
EFI_STATUS DescribeServedSlotOf(VOID *Record, UINTN SlotIndex, const SlotDescription *Slots,
                                UINTN Count) {
  UINTN position = SlotIndex - FIRST_RISER_SLOT_INDEX;
  if (position < Count) {
    DescribeSlot(Record, Slots[position]);
  }
  return EFI_SUCCESS;
}

template <UINTN Count>
EFI_STATUS DescribeServedSlot(VOID *Record, UINTN SlotIndex,
                              const SlotDescription (&Slots)[Count]) {
  return DescribeServedSlotOf(Record, SlotIndex, Slots, Count);
}

// A one-slot card has only the first slot index.
EFI_STATUS DescribeOneSlotCard(VOID *Record, UINTN SlotIndex, const SlotDescription &Slot) {
  if (SlotIndex == FIRST_RISER_SLOT_INDEX) {
    DescribeSlot(Record, Slot);
  }
  return EFI_SUCCESS;
}

// The wiring of a one-slot card by riser identifier.
const SlotShape &OneSlotWiring(const SlotShape (&Wiring)[RISER_IDENTIFIER_COUNT],
                               UINT8 Identifier) {
  return Wiring[Identifier % RISER_IDENTIFIER_COUNT];
}

}  // namespace

EFI_STATUS NoRiserSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Record;
  (void)Capacity;
  (void)SlotIndex;
  return EFI_SUCCESS;
}

EFI_STATUS Riser1OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  const SlotShape &wiring = OneSlotWiring(RISER1_ONE_SLOT_WIRING, ReadRiserIds().riser1);
  return DescribeOneSlotCard(Record, SlotIndex, {1, RISER1_SLOT1, wiring});
}

EFI_STATUS Riser1TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER1_TWO_SLOTS);
}

EFI_STATUS Riser1ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER1_THREE_SLOTS);
}

EFI_STATUS Riser2OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  const SlotShape &wiring = OneSlotWiring(RISER2_ONE_SLOT_WIRING, ReadRiserIds().riser2);
  return DescribeOneSlotCard(Record, SlotIndex, {4, RISER2_SLOT1, wiring});
}

EFI_STATUS Riser2TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER2_TWO_SLOTS);
}

EFI_STATUS Riser2ThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER2_THREE_SLOTS);
}

EFI_STATUS Riser3OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER3_ONE_SLOT);
}

EFI_STATUS Riser3TwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, RISER3_TWO_SLOTS);
}
