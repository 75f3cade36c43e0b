// The ACPI tables the test platform reads to find the ECAM window: RSDP,
// the common description header and MCFG (ACPI 6.4, 5.2.5-5.2.8; PCI
// Firmware 3.3, 4.1.2).
#pragma once

#include "uefi_base.h"

// Root System Description Pointer (ACPI 6.4, 5.2.5.3)
struct __attribute__((packed)) ACPI_RSDP {
  CHAR8 Signature[8];  // "RSD PTR "
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT8 Revision;  // 2 or more when the XSDT fields exist
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
};
static_assert(sizeof(ACPI_RSDP) == 36);
static_assert(OFFSET_OF(ACPI_RSDP, OemId) == 9);
static_assert(OFFSET_OF(ACPI_RSDP, Revision) == 15);
static_assert(OFFSET_OF(ACPI_RSDP, RsdtAddress) == 16);
static_assert(OFFSET_OF(ACPI_RSDP, Length) == 20);
static_assert(OFFSET_OF(ACPI_RSDP, XsdtAddress) == 24);
static_assert(OFFSET_OF(ACPI_RSDP, ExtendedChecksum) == 32);

// System description table header (ACPI 6.4, 5.2.6)
struct __attribute__((packed)) ACPI_DESCRIPTION_HEADER {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT64 OemTableId;
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};
static_assert(sizeof(ACPI_DESCRIPTION_HEADER) == 36);
static_assert(OFFSET_OF(ACPI_DESCRIPTION_HEADER, Length) == 4);
static_assert(OFFSET_OF(ACPI_DESCRIPTION_HEADER, Checksum) == 9);
static_assert(OFFSET_OF(ACPI_DESCRIPTION_HEADER, OemTableId) == 16);
static_assert(OFFSET_OF(ACPI_DESCRIPTION_HEADER, CreatorRevision) == 32);

inline constexpr UINT32 ACPI_XSDT_SIGNATURE = 0x54445358;  // "XSDT"
inline constexpr UINT32 ACPI_MCFG_SIGNATURE = 0x4746434D;  // "MCFG"

// MCFG: the header, 8 reserved bytes, then one allocation per segment range.
inline constexpr UINTN ACPI_MCFG_ALLOCATIONS_OFFSET = sizeof(ACPI_DESCRIPTION_HEADER) + 8;
static_assert(ACPI_MCFG_ALLOCATIONS_OFFSET == 44);

// MCFG configuration space base address allocation (PCI Firmware 3.3, 4.1.2)
struct __attribute__((packed)) ACPI_MCFG_ALLOCATION {
  UINT64 BaseAddress;
  UINT16 PciSegmentGroupNumber;
  UINT8 StartBusNumber;
  UINT8 EndBusNumber;
  UINT32 Reserved;
};
static_assert(sizeof(ACPI_MCFG_ALLOCATION) == 16);
static_assert(OFFSET_OF(ACPI_MCFG_ALLOCATION, PciSegmentGroupNumber) == 8);
static_assert(OFFSET_OF(ACPI_MCFG_ALLOCATION, StartBusNumber) == 10);
static_assert(OFFSET_OF(ACPI_MCFG_ALLOCATION, EndBusNumber) == 11);

// The configuration table entry that points at the ACPI 2.0+ RSDP (UEFI 2.10, 4.6).
inline constexpr EFI_GUID EFI_ACPI_20_TABLE_GUID = {
    0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
