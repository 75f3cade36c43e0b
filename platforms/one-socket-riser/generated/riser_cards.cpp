// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions: where every slot of every card is wired, which card
// each identifier names, and the routines that add a position's slots.

#include "inventory/riser_dispatch.h"
#include "inventory/riser_ids.h"

namespace {

// Wirings: socket, root-port group, root-port device, width, form.
constexpr SlotShape SOCKET0_GROUP1_X16_FORM1 = {0, 1, 0, SlotWidth::X16, {1}};
constexpr SlotShape SOCKET0_GROUP1_DEV2_X8_FORM2 = {0, 1, 2, SlotWidth::X8, {2}};
constexpr SlotShape SOCKET0_GROUP1_X8_FORM3 = {0, 1, 0, SlotWidth::X8, {3}};
constexpr SlotShape SOCKET0_GROUP1_DEV2_X8_FORM3 = {0, 1, 2, SlotWidth::X8, {3}};
constexpr SlotShape SOCKET0_GROUP2_DEV2_X16_FORM4 = {0, 2, 2, SlotWidth::X16, {4}};
constexpr SlotShape SOCKET0_GROUP2_DEV2_X8_FORM5 = {0, 2, 2, SlotWidth::X8, {5}};
constexpr SlotShape SOCKET0_GROUP2_DEV4_X8_FORM5 = {0, 2, 4, SlotWidth::X8, {5}};
constexpr SlotShape SOCKET0_GROUP2_DEV2_X4_FORM6 = {0, 2, 2, SlotWidth::X4, {6}};
constexpr SlotShape SOCKET0_GROUP2_DEV4_X4_FORM6 = {0, 2, 4, SlotWidth::X4, {6}};
constexpr SlotShape SOCKET0_GROUP2_DEV6_X4_FORM6 = {0, 2, 6, SlotWidth::X4, {6}};

// Upper riser, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription UPPER_TWO_SLOTS[] = {
    {1, 2, SOCKET0_GROUP1_X8_FORM3},       // "Upper riser, slot 1"
    {2, 3, SOCKET0_GROUP1_DEV2_X8_FORM3},  // "Upper riser, slot 2"
};

// Upper riser, one-slot card: its wiring by identifier; an identifier it is
// not wired for leaves the slot fields untouched.
constexpr SlotShape UPPER_ONE_SLOT_WIRING[4] = {
    UNWIRED_SLOT,                  // identifier 0
    SOCKET0_GROUP1_X16_FORM1,      // identifier 1
    SOCKET0_GROUP1_DEV2_X8_FORM2,  // identifier 2
    UNWIRED_SLOT,                  // identifier 3
};

// Lower riser, one-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription LOWER_ONE_SLOT[] = {
    {3, 4, SOCKET0_GROUP2_DEV2_X16_FORM4},  // "Lower riser, slot 1"
};

// Lower riser, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription LOWER_TWO_SLOTS[] = {
    {3, 4, SOCKET0_GROUP2_DEV2_X8_FORM5},  // "Lower riser, slot 1"
    {4, 5, SOCKET0_GROUP2_DEV4_X8_FORM5},  // "Lower riser, slot 2"
};

// Lower riser, three-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription LOWER_THREE_SLOTS[] = {
    {3, 4, SOCKET0_GROUP2_DEV2_X4_FORM6},  // "Lower riser, slot 1"
    {4, 5, SOCKET0_GROUP2_DEV4_X4_FORM6},  // "Lower riser, slot 2"
    {5, 6, SOCKET0_GROUP2_DEV6_X4_FORM6},  // "Lower riser, slot 3"
};

}  // namespace

constexpr UINT8 UpperCardMap[UPPER_CARD_MAP_SIZE] = {2, 1, 1, NO_CARD};

constexpr UINT8 LowerCardMap[LOWER_CARD_MAP_SIZE] = {NO_CARD, 1, 2, 3};

EFI_STATUS UpperOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  const SlotShape &wiring =
      OneSlotWiring(UPPER_ONE_SLOT_WIRING, ReadRiserIds().upper);
  // "Upper riser, slot 1"
  return DescribeOneSlotCard(Record, SlotIndex, {1, 2, wiring});
}

EFI_STATUS UpperTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, UPPER_TWO_SLOTS);
}

EFI_STATUS LowerOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, LOWER_ONE_SLOT);
}

EFI_STATUS LowerTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, LOWER_TWO_SLOTS);
}

EFI_STATUS LowerThreeSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, LOWER_THREE_SLOTS);
}

constexpr RiserHandlerTable UpperHandlerTable = {NoRiserSlot, UpperOneSlot, UpperTwoSlot, nullptr};

constexpr RiserHandlerTable LowerHandlerTable = {
    NoRiserSlot,
    LowerOneSlot,
    LowerTwoSlot,
    LowerThreeSlot,
};

void AddUpperSlots() {
  AddMappedRiserSlots(ReadRiserIds().upper, UpperCardMap, UpperHandlerTable);
}

void AddLowerSlots() {
  AddMappedRiserSlots(ReadRiserIds().lower, LowerCardMap, LowerHandlerTable);
}

EFI_STATUS AddRiserSlots() {
  // Whether a position is handled rests on this reading; each position's
  // routine reads the identifiers again for its slot count.
  RiserIds ids = ReadRiserIds();
  if (ids.upper != UPPER_ID_NONE) {
    AddUpperSlots();
  }
  if (ids.lower != LOWER_ID_NONE) {
    AddLowerSlots();
  }
  return EFI_SUCCESS;
}
