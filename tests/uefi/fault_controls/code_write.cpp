// Fault control (test code): writes one byte into its own code. Firmware that
// protects images maps code read-only and the write faults; built with
// 64-byte sections (CodeWriteUnalignedControl) the same write cannot be
// stopped, because a page holds code and data alike, and the firmware says so
// when it loads the image.
#include "include/uefi_system_table.h"

extern "C" EFI_STATUS EFIAPI CodeWriteEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  (void)SystemTable;
  // The entry point's own first byte, written back unchanged: harmless where
  // the write is allowed.
  auto *code = reinterpret_cast<volatile UINT8 *>(&CodeWriteEntry);
  *code = *code;
  return EFI_SUCCESS;
}
