// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions: where every slot of every card is wired, which card
// each identifier names, and the routines that add a position's slots.

#include "inventory/riser_dispatch.h"
#include "inventory/riser_ids.h"

namespace {

// Wirings: socket, root-port group, root-port device, width, form.
constexpr SlotShape SOCKET0_GROUP2_X16_FORM1 = {0, 2, 0, SlotWidth::X16, {1}};
constexpr SlotShape SOCKET1_GROUP1_X16_FORM0 = {1, 1, 0, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET1_GROUP1_DEV2_X16_FORM0 = {1, 1, 2, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET2_GROUP2_X16_FORM0 = {2, 2, 0, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET2_GROUP2_DEV2_X16_FORM0 = {2, 2, 2, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET3_GROUP3_X16_FORM0 = {3, 3, 0, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET3_GROUP3_DEV4_X16_FORM0 = {3, 3, 4, SlotWidth::X16, {0}};
constexpr SlotShape SOCKET2_GROUP2_X8_FORM2 = {2, 2, 0, SlotWidth::X8, {2}};
constexpr SlotShape SOCKET2_GROUP2_DEV1_X8_FORM2 = {2, 2, 1, SlotWidth::X8, {2}};
constexpr SlotShape SOCKET2_GROUP2_DEV2_X8_FORM2 = {2, 2, 2, SlotWidth::X8, {2}};
constexpr SlotShape SOCKET2_GROUP2_DEV3_X8_FORM2 = {2, 2, 3, SlotWidth::X8, {2}};
constexpr SlotShape SOCKET2_GROUP3_X4_FORM3 = {2, 3, 0, SlotWidth::X4, {3}};
constexpr SlotShape SOCKET2_GROUP3_DEV1_X4_FORM3 = {2, 3, 1, SlotWidth::X4, {3}};
constexpr SlotShape SOCKET3_GROUP3_X16_FORM4 = {3, 3, 0, SlotWidth::X16, {4}};

// Front riser, x16 card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription FRONT_ONE_SLOT[] = {
    {1, 3, SOCKET0_GROUP2_X16_FORM1},  // "Front riser, x16 slot"
};

// Rear riser, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription REAR_TWO_SLOTS[] = {
    {21, 4, SOCKET1_GROUP1_X16_FORM0},       // "Rear riser, slot 1"
    {22, 5, SOCKET1_GROUP1_DEV2_X16_FORM0},  // "Rear riser, slot 2"
};

// Rear riser, four-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription REAR_FOUR_SLOTS[] = {
    {21, 4, SOCKET2_GROUP2_X16_FORM0},        // "Rear riser, slot 1"
    {23, 6, SOCKET2_GROUP2_DEV2_X16_FORM0},   // "Rear riser, slot 3"
    {27, 10, SOCKET3_GROUP3_X16_FORM0},       // "Rear riser, slot 7"
    {28, 11, SOCKET3_GROUP3_DEV4_X16_FORM0},  // "Rear riser, slot 8"
};

// Rear riser, eight-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription REAR_EIGHT_SLOTS[] = {
    {21, 4, SOCKET2_GROUP2_X8_FORM2},         // "Rear riser, slot 1"
    {22, 5, SOCKET2_GROUP2_DEV1_X8_FORM2},    // "Rear riser, slot 2"
    {23, 6, SOCKET2_GROUP2_DEV2_X8_FORM2},    // "Rear riser, slot 3"
    {24, 7, SOCKET2_GROUP2_DEV3_X8_FORM2},    // "Rear riser, slot 4"
    {25, 8, SOCKET2_GROUP3_X4_FORM3},         // "Rear riser, slot 5"
    {26, 9, SOCKET2_GROUP3_DEV1_X4_FORM3},    // "Rear riser, slot 6"
    {27, 10, SOCKET3_GROUP3_X16_FORM4},       // "Rear riser, slot 7"
    {28, 11, SOCKET3_GROUP3_DEV4_X16_FORM0},  // "Rear riser, slot 8"
};

}  // namespace

constexpr UINT8 FrontCardMap[FRONT_CARD_MAP_SIZE] = {1, NO_CARD};

constexpr UINT8 RearCardMap[REAR_CARD_MAP_SIZE] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, NO_CARD};

EFI_STATUS FrontOneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, FRONT_ONE_SLOT);
}

EFI_STATUS RearTwoSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, REAR_TWO_SLOTS);
}

EFI_STATUS RearFourSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, REAR_FOUR_SLOTS);
}

EFI_STATUS RearEightSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  return DescribeServedSlot(Record, SlotIndex, REAR_EIGHT_SLOTS);
}

constexpr RiserHandlerTable FrontHandlerTable = {
    NoRiserSlot,
    FrontOneSlot,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

constexpr RiserHandlerTable RearHandlerTable = {
    NoRiserSlot,
    nullptr,
    RearTwoSlot,
    nullptr,
    RearFourSlot,
    nullptr,
    nullptr,
    nullptr,
    RearEightSlot,
};

void AddFrontSlots() {
  AddMappedRiserSlots(ReadRiserIds().front, FrontCardMap, FrontHandlerTable);
}

void AddRearSlots() {
  AddMappedRiserSlots(ReadRiserIds().rear, RearCardMap, RearHandlerTable);
}

EFI_STATUS AddRiserSlots() {
  // Whether a position is handled rests on this reading; each position's
  // routine reads the identifiers again for its slot count.
  RiserIds ids = ReadRiserIds();
  if (ids.front != FRONT_ID_NONE) {
    AddFrontSlots();
  }
  if (ids.rear != REAR_ID_NONE) {
    AddRearSlots();
  }
  return EFI_SUCCESS;
}
