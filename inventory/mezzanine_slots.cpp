#include "mezzanine_slots.h"

#include "record_model.h"
#include "slot_fill.h"
// MEZZANINE_SLOTS, the platform's mezzanine slots indexed by slot index.
#include "mezzanine_slot_table.h"

EFI_STATUS BuildMezzanineSlot(VOID *Record, UINTN SlotIndex) {
  PrepareSlotHeader(Record);
  if (SlotIndex >= MEZZANINE_SLOT_COUNT) {
    return EFI_INVALID_PARAMETER;
  }
  DescribeSlot(Record, MEZZANINE_SLOTS[SlotIndex]);
  return EFI_SUCCESS;
}
