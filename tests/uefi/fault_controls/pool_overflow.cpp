// Fault control (test code): writes one byte past the end of a boot-services
// pool buffer. Under the firmware's pool guard the write lands on the guard
// page and faults; a firmware that lets it pass would let the driver's own
// overflows pass too, so the runner fails such a boot.
#include "include/uefi_system_table.h"

extern "C" EFI_STATUS EFIAPI PoolOverflowEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  // A multiple of 8, so that the pool's end lies flush against its guard page.
  constexpr UINTN Size = 768;
  VOID *Buffer = nullptr;
  EFI_STATUS Status = SystemTable->BootServices->AllocatePool(EfiBootServicesData, Size, &Buffer);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  static_cast<volatile UINT8 *>(Buffer)[Size] = 0xA5;
  SystemTable->BootServices->FreePool(Buffer);
  return EFI_SUCCESS;
}
