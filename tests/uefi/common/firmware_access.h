// Access to what the harness finds on the machine: the boot volume's files,
// configuration tables, the ECAM window, and memory-mapped and I/O registers.
#pragma once

#include "tests/uefi/common/config_space.h"
#include "include/uefi_system_table.h"

struct FirmwareContext {
  EFI_HANDLE ImageHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_BOOT_SERVICES *BootServices;
  EFI_RUNTIME_SERVICES *RuntimeServices;
};

// Reads a whole file from the volume the harness was loaded from into a pool
// buffer the caller frees. The buffer has one extra zero byte after the data.
EFI_STATUS ReadVolumeFile(const FirmwareContext &Context, const CHAR16 *Path, UINT8 **Data,
                          UINTN *Size);

VOID *FindConfigurationTable(const FirmwareContext &Context, const EFI_GUID &Guid);

// The first installed instance of protocol Guid; null when there is none.
template <typename Interface>
Interface *LocateInterface(const FirmwareContext &Context, const EFI_GUID &Guid) {
  VOID *interface = nullptr;
  EFI_STATUS status = Context.BootServices->LocateProtocol(&Guid, nullptr, &interface);
  return EFI_ERROR(status) ? nullptr : static_cast<Interface *>(interface);
}

// Handle's instance of protocol Guid; null when it has none.
template <typename Interface>
Interface *HandleInterface(const FirmwareContext &Context, EFI_HANDLE Handle, const EFI_GUID &Guid) {
  VOID *interface = nullptr;
  EFI_STATUS status = Context.BootServices->HandleProtocol(Handle, &Guid, &interface);
  return EFI_ERROR(status) ? nullptr : static_cast<Interface *>(interface);
}

// The segment-0 ECAM window from the ACPI MCFG table (ACPI 2.0 RSDP, XSDT).
// OVMF publishes QEMU's ACPI tables as soon as PCI enumeration is complete,
// so MCFG is there for a DXE driver whose dependencies include that too.
EFI_STATUS FindEcamWindow(const FirmwareContext &Context, ConfigSpaceMap *Map);

UINT8 MmioRead8(UINTN Address);
UINT16 MmioRead16(UINTN Address);
UINT32 MmioRead32(UINTN Address);
void MmioWrite16(UINTN Address, UINT16 Value);
void MmioWrite32(UINTN Address, UINT32 Value);

UINT64 ReadTimeStampCounter();

UINT8 IoRead8(UINT16 Port);
void IoWrite16(UINT16 Port, UINT16 Value);
