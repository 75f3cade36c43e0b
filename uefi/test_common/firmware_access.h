// Access to what the harness finds on the machine: the boot volume's files,
// configuration tables, the ECAM window, and memory-mapped and I/O registers.
#pragma once

#include "uefi/test_common/config_space.h"
#include "uefi/test_common/test_uefi.h"

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

enum class EcamSource : UINT8 { None, Mcfg, Pciexbar };

// The segment-0 ECAM window from the ACPI MCFG table (ACPI 2.0 RSDP, XSDT),
// or, before the firmware has published MCFG, from the q35 host bridge's
// PCIEXBAR register, which the firmware programmed earlier still.
EFI_STATUS FindEcamWindow(const FirmwareContext &Context, ConfigSpaceMap *Map, EcamSource *Source);

UINT8 MmioRead8(UINTN Address);
UINT16 MmioRead16(UINTN Address);
UINT32 MmioRead32(UINTN Address);
void MmioWrite16(UINTN Address, UINT16 Value);
void MmioWrite32(UINTN Address, UINT32 Value);

UINT64 ReadTimeStampCounter();

UINT8 IoRead8(UINT16 Port);
UINT32 IoRead32(UINT16 Port);
void IoWrite16(UINT16 Port, UINT16 Value);
void IoWrite32(UINT16 Port, UINT32 Value);
