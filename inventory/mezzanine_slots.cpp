#include "mezzanine_slots.h"

#include "record_model.h"
#include "slot_fill.h"

namespace {

constexpr SlotShape MEZZANINE0_SHAPE = {0, 3, 0, SlotWidth::X8};
constexpr SlotShape MEZZANINE1_SHAPE = {0, 2, 2, SlotWidth::X8};

// Indexed by slot index.
constexpr SlotDescription MEZZANINE_SLOTS[MEZZANINE_SLOT_COUNT] = {
    {17, 2, MEZZANINE0_SHAPE},  // "MEZZANINE 0"
    {18, 3, MEZZANINE1_SHAPE},  // "MEZZANINE 1"
};

}  // namespace

EFI_STATUS BuildMezzanineSlot(VOID *Record, UINTN SlotIndex) {
  PrepareSlotHeader(Record);
  if (SlotIndex >= MEZZANINE_SLOT_COUNT) {
    return EFI_INVALID_PARAMETER;
  }
  DescribeSlot(Record, MEZZANINE_SLOTS[SlotIndex]);
  return EFI_SUCCESS;
}
