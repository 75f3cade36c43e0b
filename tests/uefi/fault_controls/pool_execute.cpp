// Fault control (test code): copies a return instruction into boot-services
// pool memory and calls it. Firmware that keeps data memory non-executable
// faults on the instruction fetch; without that protection the call returns.
#include "include/uefi_system_table.h"

extern "C" EFI_STATUS EFIAPI PoolExecuteEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  VOID *Buffer = nullptr;
  EFI_STATUS Status = SystemTable->BootServices->AllocatePool(EfiBootServicesData, 16, &Buffer);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  constexpr UINT8 RET = 0xC3;
  static_cast<volatile UINT8 *>(Buffer)[0] = RET;
  reinterpret_cast<void (*)()>(Buffer)();
  SystemTable->BootServices->FreePool(Buffer);
  return EFI_SUCCESS;
}
