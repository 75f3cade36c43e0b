// A boot-service driver that does nothing: the baseline that the slot
// inventory driver's start-up time is measured against.
#include "include/uefi_system_table.h"

extern "C" EFI_STATUS EFIAPI EmptyDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  (void)SystemTable;
  return EFI_SUCCESS;
}
