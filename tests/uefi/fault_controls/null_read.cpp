// Fault control (test code): reads through a NULL pointer. With NULL-pointer
// detection page 0 is not present and the read faults; without it the read
// quietly returns whatever lies at address 0, as a driver's bug would.
#include "include/uefi_system_table.h"

// Kept in memory, so the compiler cannot see the read is through NULL and
// replace it with a trap of its own.
volatile UINTN NullAddress = 0;

extern "C" EFI_STATUS EFIAPI NullReadEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  (void)SystemTable;
  // A volatile read happens even though its value is unused.
  (void)*reinterpret_cast<const volatile UINT8 *>(NullAddress);
  return EFI_SUCCESS;
}
