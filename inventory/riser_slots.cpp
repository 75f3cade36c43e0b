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

struct RiserSlot {
  UINTN SlotIndex;
  SlotDescription Slot;
};

// Slot IDs are not dense: a two-slot card numbers its second slot like the
// third slot of the three-slot card, the slot it physically replaces.
constexpr RiserSlot RISER1_TWO_SLOTS[] = {
    {2, {1, RISER1_SLOT1, &SOCKET0_GROUP1_X16}},
    {3, {3, RISER1_SLOT2, &SOCKET0_GROUP3_DEV2_X8}},
};
constexpr RiserSlot RISER1_THREE_SLOTS[] = {
    {2, {1, RISER1_SLOT1, &SOCKET0_GROUP1_X8}},
    {3, {2, RISER1_SLOT2, &SOCKET0_GROUP1_DEV2_X8}},
    {4, {3, RISER1_SLOT3, &SOCKET0_GROUP3_DEV2_X8}},
};
constexpr RiserSlot RISER2_TWO_SLOTS[] = {
    {2, {4, RISER2_SLOT1, &SOCKET1_GROUP2_X16}},
    {3, {6, RISER2_SLOT2, &SOCKET1_GROUP1_X8}},
};
constexpr RiserSlot RISER2_THREE_SLOTS[] = {
    {2, {4, RISER2_SLOT1, &SOCKET1_GROUP2_DEV2_X8}},
    {3, {5, RISER2_SLOT2, &SOCKET1_GROUP2_X8}},
    {4, {6, RISER2_SLOT3, &SOCKET1_GROUP1_X8}},
};
constexpr RiserSlot RISER3_ONE_SLOT[] = {
    {2, {7, RISER3_SLOT1, &SOCKET1_GROUP3_X16}},
};
constexpr RiserSlot RISER3_TWO_SLOTS[] = {
    {2, {7, RISER3_SLOT1, &SOCKET1_GROUP3_X8}},
    {3, {8, RISER3_SLOT2, &SOCKET1_GROUP3_DEV2_X8}},
};

// One-slot cards of risers 1 and 2 come in two wirings told apart by the
// riser identifier; any other identifier leaves the slot fields untouched.
constexpr UINTN RISER_IDENTIFIER_COUNT = 8;
constexpr const SlotShape *RISER1_ONE_SLOT_WIRING[RISER_IDENTIFIER_COUNT] = {
    &SOCKET0_GROUP1_X16, &SOCKET0_GROUP3_DEV2_X8, nullptr, nullptr,
    &SOCKET0_GROUP1_X16, nullptr,                 &SOCKET0_GROUP3_DEV2_X8, nullptr,
};
constexpr const SlotShape *RISER2_ONE_SLOT_WIRING[RISER_IDENTIFIER_COUNT] = {
    &SOCKET1_GROUP2_X16, &SOCKET1_GROUP1_X8, nullptr, nullptr,
    &SOCKET1_GROUP2_X16, nullptr,            &SOCKET1_GROUP1_X8, nullptr,
};

template <UINTN Count>
EFI_STATUS DescribeServedSlot(VOID *Record, UINTN SlotIndex, const RiserSlot (&Slots)[Count]) {
  for (const RiserSlot &slot : Slots) {
    if (slot.SlotIndex == SlotIndex) {
      DescribeSlot(Record, slot.Slot);
      break;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS DescribeOneSlotCard(VOID *Record, UINTN SlotIndex, UINT8 Identifier,
                               const SlotShape *const (&Wiring)[RISER_IDENTIFIER_COUNT],
                               UINT16 SlotId, EFI_STRING_ID StringId) {
  const RiserSlot slots[] = {
      {FIRST_RISER_SLOT_INDEX, {SlotId, StringId, Wiring[Identifier % RISER_IDENTIFIER_COUNT]}},
  };
  return DescribeServedSlot(Record, SlotIndex, slots);
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
  RiserIds ids = ReadRiserIds();
  return DescribeOneSlotCard(Record, SlotIndex, ids.riser1, RISER1_ONE_SLOT_WIRING, 1,
                             RISER1_SLOT1);
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
  RiserIds ids = ReadRiserIds();
  return DescribeOneSlotCard(Record, SlotIndex, ids.riser2, RISER2_ONE_SLOT_WIRING, 4,
                             RISER2_SLOT1);
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
