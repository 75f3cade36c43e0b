// Driver entry point and start-up.
#pragma once

#include "../include/uefi_system_table.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Remembers the system tables and locates the protocols used for the whole run.
void CaptureFirmwareServices(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Back to the state of a freshly loaded image (all module-level variables
// cleared), for hosts that load the driver more than once in one process.
void ResetDriverState();
