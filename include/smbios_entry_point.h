// The two SMBIOS entry points (SMBIOS 3.x, 5.2.1 and 5.2.2) and the
// configuration table GUIDs firmware publishes them under (UEFI 2.10, 4.6).
#pragma once

#include "uefi_base.h"

// SMBIOS 2.1 (32-bit) entry point (SMBIOS 3.x, 5.2.1)
struct __attribute__((packed)) SMBIOS_ENTRY_POINT_21 {
  CHAR8 AnchorString[4];  // "_SM_"
  UINT8 EntryPointChecksum;
  UINT8 EntryPointLength;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
  UINT16 MaxStructureSize;
  UINT8 EntryPointRevision;
  UINT8 FormattedArea[5];
  CHAR8 IntermediateAnchor[5];  // "_DMI_"
  UINT8 IntermediateChecksum;
  UINT16 TableLength;
  UINT32 TableAddress;
  UINT16 NumberOfStructures;
  UINT8 BcdRevision;
};
static_assert(sizeof(SMBIOS_ENTRY_POINT_21) == 0x1F);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, EntryPointChecksum) == 0x04);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, EntryPointLength) == 0x05);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, MajorVersion) == 0x06);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, MinorVersion) == 0x07);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, EntryPointRevision) == 0x0A);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, IntermediateAnchor) == 0x10);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, IntermediateChecksum) == 0x15);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, TableLength) == 0x16);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, TableAddress) == 0x18);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, NumberOfStructures) == 0x1C);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, BcdRevision) == 0x1E);

// The "_DMI_" part of the 2.1 entry point, checksummed on its own.
inline constexpr UINTN SMBIOS_21_INTERMEDIATE_LENGTH =
    sizeof(SMBIOS_ENTRY_POINT_21) - OFFSET_OF(SMBIOS_ENTRY_POINT_21, IntermediateAnchor);
static_assert(SMBIOS_21_INTERMEDIATE_LENGTH == 0x0F);

// SMBIOS 3.0 (64-bit) entry point (SMBIOS 3.x, 5.2.2)
struct __attribute__((packed)) SMBIOS_ENTRY_POINT_30 {
  CHAR8 AnchorString[5];  // "_SM3_"
  UINT8 EntryPointChecksum;
  UINT8 EntryPointLength;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
  UINT8 DocRev;
  UINT8 EntryPointRevision;
  UINT8 Reserved;
  UINT32 TableMaximumSize;
  UINT64 TableAddress;
};
static_assert(sizeof(SMBIOS_ENTRY_POINT_30) == 0x18);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, EntryPointChecksum) == 0x05);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, EntryPointLength) == 0x06);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, MajorVersion) == 0x07);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, MinorVersion) == 0x08);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, DocRev) == 0x09);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, EntryPointRevision) == 0x0A);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, TableMaximumSize) == 0x0C);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, TableAddress) == 0x10);

inline constexpr EFI_GUID SMBIOS_TABLE_GUID = {
    0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constexpr EFI_GUID SMBIOS3_TABLE_GUID = {
    0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};
