// SMBIOS protocol (UEFI PI 1.8, volume 5, chapter 6) and the SMBIOS structure header.
#pragma once

#include "uefi_base.h"

#if defined(SLOT_INVENTORY_EDK2)
// MdePkg's protocol header, with the SMBIOS structure header it includes.
#include <Protocol/Smbios.h>
#else
typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;

// Passed to Add for "assign a fresh handle", to GetNext for "from the start";
// GetNext hands it back when no further record exists.
inline constexpr EFI_SMBIOS_HANDLE SMBIOS_HANDLE_PI_RESERVED = 0xFFFE;

// SMBIOS_STRUCTURE / EFI_SMBIOS_TABLE_HEADER (SMBIOS 3.x, 6.1.2)
struct EFI_SMBIOS_TABLE_HEADER {
  EFI_SMBIOS_TYPE Type;
  UINT8 Length;
  EFI_SMBIOS_HANDLE Handle;
};
static_assert(sizeof(EFI_SMBIOS_TABLE_HEADER) == 4);
static_assert(OFFSET_OF(EFI_SMBIOS_TABLE_HEADER, Length) == 1);
static_assert(OFFSET_OF(EFI_SMBIOS_TABLE_HEADER, Handle) == 2);

struct EFI_SMBIOS_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_ADD)(EFI_SMBIOS_PROTOCOL *This, EFI_HANDLE ProducerHandle,
                                           EFI_SMBIOS_HANDLE *SmbiosHandle,
                                           EFI_SMBIOS_TABLE_HEADER *Record);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_UPDATE_STRING)(EFI_SMBIOS_PROTOCOL *This,
                                                     EFI_SMBIOS_HANDLE *SmbiosHandle,
                                                     UINTN *StringNumber, CHAR8 *String);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_REMOVE)(EFI_SMBIOS_PROTOCOL *This,
                                              EFI_SMBIOS_HANDLE SmbiosHandle);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_GET_NEXT)(EFI_SMBIOS_PROTOCOL *This,
                                                EFI_SMBIOS_HANDLE *SmbiosHandle,
                                                EFI_SMBIOS_TYPE *Type,
                                                EFI_SMBIOS_TABLE_HEADER **Record,
                                                EFI_HANDLE *ProducerHandle);

// EFI_SMBIOS_PROTOCOL (PI 1.8, volume 5, 6.4)
struct EFI_SMBIOS_PROTOCOL {
  EFI_SMBIOS_ADD Add;
  EFI_SMBIOS_UPDATE_STRING UpdateString;
  EFI_SMBIOS_REMOVE Remove;
  EFI_SMBIOS_GET_NEXT GetNext;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};
static_assert(sizeof(EFI_SMBIOS_PROTOCOL) == 40);
static_assert(OFFSET_OF(EFI_SMBIOS_PROTOCOL, Remove) == 16);
static_assert(OFFSET_OF(EFI_SMBIOS_PROTOCOL, GetNext) == 24);
static_assert(OFFSET_OF(EFI_SMBIOS_PROTOCOL, MajorVersion) == 32);
#endif  // SLOT_INVENTORY_EDK2
