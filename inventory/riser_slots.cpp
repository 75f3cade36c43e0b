#include "riser_slots.h"

EFI_STATUS DescribeServedSlotOf(VOID *Record, UINTN SlotIndex, const SlotDescription *Slots,
                                UINTN Count) {
  UINTN position = SlotIndex - FIRST_RISER_SLOT_INDEX;
  if (position < Count) {
    DescribeSlot(Record, Slots[position]);
  }
  return EFI_SUCCESS;
}

EFI_STATUS DescribeOneSlotCard(VOID *Record, UINTN SlotIndex, const SlotDescription &Slot) {
  if (SlotIndex == FIRST_RISER_SLOT_INDEX) {
    DescribeSlot(Record, Slot);
  }
  return EFI_SUCCESS;
}

EFI_STATUS NoRiserSlot(VOID *Record, UINTN *Capacity, UINTN SlotIndex) {
  (void)Record;
  (void)Capacity;
  (void)SlotIndex;
  return EFI_SUCCESS;
}
