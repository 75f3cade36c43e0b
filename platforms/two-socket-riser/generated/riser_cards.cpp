// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The riser positions: where every slot of every card is wired, which card
// each identifier names, and the routines that add a position's slots.

#include "inventory/riser_dispatch.h"
#include "inventory/riser_ids.h"

namespace {

// Wirings: socket, root-port group, root-port device, width.
constexpr SlotShape SOCKET0_GROUP1_X16 = {0, 1, 0, SlotWidth::X16};
constexpr SlotShape SOCKET0_GROUP3_DEV2_X8 = {0, 3, 2, SlotWidth::X8};
constexpr SlotShape SOCKET0_GROUP1_X8 = {0, 1, 0, SlotWidth::X8};
constexpr SlotShape SOCKET0_GROUP1_DEV2_X8 = {0, 1, 2, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_X16 = {1, 2, 0, SlotWidth::X16};
constexpr SlotShape SOCKET1_GROUP1_X8 = {1, 1, 0, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_DEV2_X8 = {1, 2, 2, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP2_X8 = {1, 2, 0, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP3_X16 = {1, 3, 0, SlotWidth::X16};
constexpr SlotShape SOCKET1_GROUP3_X8 = {1, 3, 0, SlotWidth::X8};
constexpr SlotShape SOCKET1_GROUP3_DEV2_X8 = {1, 3, 2, SlotWidth::X8};

// Riser 1, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER1_TWO_SLOTS[] = {
    {1, 4, SOCKET0_GROUP1_X16},      // "Riser 1, slot 1"
    {3, 5, SOCKET0_GROUP3_DEV2_X8},  // "Riser 1, slot 2"
};

// Riser 1, three-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER1_THREE_SLOTS[] = {
    {1, 4, SOCKET0_GROUP1_X8},       // "Riser 1, slot 1"
    {2, 5, SOCKET0_GROUP1_DEV2_X8},  // "Riser 1, slot 2"
    {3, 6, SOCKET0_GROUP3_DEV2_X8},  // "Riser 1, slot 3"
};

// Riser 1, one-slot card: its wiring by identifier; an identifier it is
// not wired for leaves the slot fields untouched.
constexpr SlotShape RISER1_ONE_SLOT_WIRING[8] = {
    SOCKET0_GROUP1_X16,      // identifier 0
    SOCKET0_GROUP3_DEV2_X8,  // identifier 1
    UNWIRED_SLOT,            // identifier 2
    UNWIRED_SLOT,            // identifier 3
    SOCKET0_GROUP1_X16,      // identifier 4
    UNWIRED_SLOT,            // identifier 5
    SOCKET0_GROUP3_DEV2_X8,  // identifier 6
    UNWIRED_SLOT,            // identifier 7
};

// Riser 2, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER2_TWO_SLOTS[] = {
    {4, 7, SOCKET1_GROUP2_X16},  // "Riser 2, slot 1"
    {6, 8, SOCKET1_GROUP1_X8},   // "Riser 2, slot 2"
};

// Riser 2, three-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER2_THREE_SLOTS[] = {
    {4, 7, SOCKET1_GROUP2_DEV2_X8},  // "Riser 2, slot 1"
    {5, 8, SOCKET1_GROUP2_X8},       // "Riser 2, slot 2"
    {6, 9, SOCKET1_GROUP1_X8},       // "Riser 2, slot 3"
};

// Riser 2, one-slot card: its wiring by identifier; an identifier it is
// not wired for leaves the slot fields untouched.
constexpr SlotShape RISER2_ONE_SLOT_WIRING[8] = {
    SOCKET1_GROUP2_X16,  // identifier 0
    SOCKET1_GROUP1_X8,   // identifier 1
    UNWIRED_SLOT,        // identifier 2
    UNWIRED_SLOT,        // identifier 3
    SOCKET1_GROUP2_X16,  // identifier 4
    UNWIRED_SLOT,        // identifier 5
    SOCKET1_GROUP1_X8,   // identifier 6
    UNWIRED_SLOT,        // identifier 7
};

// Riser 3, one-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER3_ONE_SLOT[] = {
    {7, 10, SOCKET1_GROUP3_X16},  // "Riser 3, slot 1"
};

// Riser 3, two-slot card: Slot ID, string id, wiring of each slot in
// slot-index order, from FIRST_RISER_SLOT_INDEX.
constexpr SlotDescription RISER3_TWO_SLOTS[] = {
    {7, 10, SOCKET1_GROUP3_X8},       // "Riser 3, slot 1"
    {8, 11, SOCKET1_GROUP3_DEV2_X8},  // "Riser 3, slot 2"
};

}  // namespace

constexpr UINT8 RiserSlotMap[RISER_SLOT_MAP_SIZE] = {1, 1, 0, 3, 1, 2, 1, NO_CARD};

constexpr UINT8 Riser3SlotMap[RISER3_SLOT_MAP_SIZE] = {0, 2, 1, 1};

EFI_STATUS Riser1OneSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Capacity;
  const SlotShape &wiring =
      OneSlotWiring(RISER1_ONE_SLOT_WIRING, ReadRiserIds().riser1);
  // "Riser 1, slot 1"
  return DescribeOneSlotCard(Record, SlotIndex, {1, 4, wiring});
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
  const SlotShape &wiring =
      OneSlotWiring(RISER2_ONE_SLOT_WIRING, ReadRiserIds().riser2);
  // "Riser 2, slot 1"
  return DescribeOneSlotCard(Record, SlotIndex, {4, 7, wiring});
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

constexpr RiserHandlerTable Riser1HandlerTable = {
    NoRiserSlot,
    Riser1OneSlot,
    Riser1TwoSlot,
    Riser1ThreeSlot,
};

constexpr RiserHandlerTable Riser2HandlerTable = {
    NoRiserSlot,
    Riser2OneSlot,
    Riser2TwoSlot,
    Riser2ThreeSlot,
};

constexpr RiserHandlerTable Riser3HandlerTable = {
    NoRiserSlot,
    Riser3OneSlot,
    Riser3TwoSlot,
    nullptr,
};

void AddRiser1Slots() {
  AddMappedRiserSlots(ReadRiserIds().riser1, RiserSlotMap, Riser1HandlerTable);
}

void AddRiser2Slots() {
  AddMappedRiserSlots(ReadRiserIds().riser2, RiserSlotMap, Riser2HandlerTable);
}

void AddRiser3Slots() {
  AddMappedRiserSlots(ReadRiserIds().riser3, Riser3SlotMap, Riser3HandlerTable);
}

EFI_STATUS AddRiserSlots() {
  // Whether a position is handled rests on this reading; each position's
  // routine reads the identifiers again for its slot count.
  RiserIds ids = ReadRiserIds();
  if (ids.riser1 != RISER1_ID_NONE) {
    AddRiser1Slots();
  }
  if (ids.riser2 != RISER2_ID_NONE) {
    AddRiser2Slots();
  }
  if (ids.riser3 != RISER3_ID_NONE) {
    AddRiser3Slots();
  }
  return EFI_SUCCESS;
}
