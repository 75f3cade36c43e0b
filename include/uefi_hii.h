// HII packages, HII database and HII string protocols (UEFI 2.10, 33.3 and 34).
#pragma once

#include "uefi_base.h"

#if defined(SLOT_INVENTORY_EDK2)
#include <Protocol/HiiDatabase.h>
#include <Protocol/HiiString.h>
#else
typedef VOID *EFI_HII_HANDLE;
typedef UINT16 EFI_STRING_ID;
typedef CHAR16 *EFI_STRING;

// EFI_HII_PACKAGE_HEADER (UEFI 2.10, 33.3.1.1): a 24-bit length and a type byte.
struct EFI_HII_PACKAGE_HEADER {
  UINT8 Length[3];
  UINT8 Type;
};
static_assert(sizeof(EFI_HII_PACKAGE_HEADER) == 4);

inline constexpr UINT8 EFI_HII_PACKAGE_STRINGS = 0x04;
inline constexpr UINT8 EFI_HII_PACKAGE_END = 0xDF;

// EFI_HII_PACKAGE_LIST_HEADER (UEFI 2.10, 33.3.1.2)
struct EFI_HII_PACKAGE_LIST_HEADER {
  EFI_GUID PackageListGuid;
  UINT32 PackageLength;
};
static_assert(sizeof(EFI_HII_PACKAGE_LIST_HEADER) == 20);
static_assert(OFFSET_OF(EFI_HII_PACKAGE_LIST_HEADER, PackageLength) == 16);

// EFI_HII_STRING_PACKAGE_HDR (UEFI 2.10, 33.3.6.1), packed: the language
// name follows LanguageName with no padding, and the blocks follow HdrSize bytes in.
// Unlike MdePkg's (47 bytes) it stops before the language code, so its size
// is the fixed part alone.
struct __attribute__((packed)) EFI_HII_STRING_PACKAGE_HDR {
  EFI_HII_PACKAGE_HEADER Header;
  UINT32 HdrSize;
  UINT32 StringInfoOffset;
  CHAR16 LanguageWindow[16];
  EFI_STRING_ID LanguageName;
  // CHAR8 Language[] follows: ASCII RFC 4646 code with its NUL.
};
static_assert(sizeof(EFI_HII_STRING_PACKAGE_HDR) == 46);
static_assert(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, HdrSize) == 4);
static_assert(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, StringInfoOffset) == 8);
static_assert(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, LanguageWindow) == 12);
static_assert(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, LanguageName) == 44);

// String block types (UEFI 2.10, 33.3.6.2)
inline constexpr UINT8 EFI_HII_SIBT_END = 0x00;
inline constexpr UINT8 EFI_HII_SIBT_STRING_SCSU = 0x10;
inline constexpr UINT8 EFI_HII_SIBT_STRING_SCSU_FONT = 0x11;
inline constexpr UINT8 EFI_HII_SIBT_STRINGS_SCSU = 0x12;
inline constexpr UINT8 EFI_HII_SIBT_STRINGS_SCSU_FONT = 0x13;
inline constexpr UINT8 EFI_HII_SIBT_STRING_UCS2 = 0x14;
inline constexpr UINT8 EFI_HII_SIBT_STRING_UCS2_FONT = 0x15;
inline constexpr UINT8 EFI_HII_SIBT_STRINGS_UCS2 = 0x16;
inline constexpr UINT8 EFI_HII_SIBT_STRINGS_UCS2_FONT = 0x17;
inline constexpr UINT8 EFI_HII_SIBT_DUPLICATE = 0x20;
inline constexpr UINT8 EFI_HII_SIBT_SKIP2 = 0x21;
inline constexpr UINT8 EFI_HII_SIBT_SKIP1 = 0x22;
inline constexpr UINT8 EFI_HII_SIBT_EXT1 = 0x30;
inline constexpr UINT8 EFI_HII_SIBT_EXT2 = 0x31;
inline constexpr UINT8 EFI_HII_SIBT_EXT4 = 0x32;
inline constexpr UINT8 EFI_HII_SIBT_FONT = 0x40;

struct EFI_HII_DATABASE_PROTOCOL;
struct EFI_HII_STRING_PROTOCOL;
struct EFI_FONT_INFO;

typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_NEW_PACK)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                      const EFI_HII_PACKAGE_LIST_HEADER *PackageList,
                                                      EFI_HANDLE DriverHandle,
                                                      EFI_HII_HANDLE *Handle);

// EFI_HII_DATABASE_PROTOCOL (UEFI 2.10, 34.8.1)
struct EFI_HII_DATABASE_PROTOCOL {
  EFI_HII_DATABASE_NEW_PACK NewPackageList;
  VOID *RemovePackageList;
  VOID *UpdatePackageList;
  VOID *ListPackageLists;
  VOID *ExportPackageLists;
  VOID *RegisterPackageNotify;
  VOID *UnregisterPackageNotify;
  VOID *FindKeyboardLayouts;
  VOID *GetKeyboardLayout;
  VOID *SetKeyboardLayout;
  VOID *GetPackageListHandle;
};
static_assert(sizeof(EFI_HII_DATABASE_PROTOCOL) == 88);
static_assert(OFFSET_OF(EFI_HII_DATABASE_PROTOCOL, NewPackageList) == 0);
static_assert(OFFSET_OF(EFI_HII_DATABASE_PROTOCOL, RemovePackageList) == 8);
static_assert(OFFSET_OF(EFI_HII_DATABASE_PROTOCOL, ListPackageLists) == 24);
static_assert(OFFSET_OF(EFI_HII_DATABASE_PROTOCOL, ExportPackageLists) == 32);

// Database members held as plain pointers above, for callers that remove,
// list and export package lists (UEFI 2.10, 34.8.1).
typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_REMOVE_PACK)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                         EFI_HII_HANDLE Handle);
typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_LIST_PACKS)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                        UINT8 PackageType,
                                                        const EFI_GUID *PackageGuid,
                                                        UINTN *HandleBufferLength,
                                                        EFI_HII_HANDLE *Handle);
typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_EXPORT_PACKS)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                          EFI_HII_HANDLE Handle, UINTN *BufferSize,
                                                          EFI_HII_PACKAGE_LIST_HEADER *Buffer);

inline constexpr UINT8 EFI_HII_PACKAGE_TYPE_ALL = 0x00;

typedef EFI_STATUS(EFIAPI *EFI_HII_GET_STRING)(const EFI_HII_STRING_PROTOCOL *This,
                                               const CHAR8 *Language,
                                               EFI_HII_HANDLE PackageList,
                                               EFI_STRING_ID StringId, EFI_STRING String,
                                               UINTN *StringSize,
                                               EFI_FONT_INFO **StringFontInfo);
typedef EFI_STATUS(EFIAPI *EFI_HII_GET_LANGUAGES)(const EFI_HII_STRING_PROTOCOL *This,
                                                  EFI_HII_HANDLE PackageList, CHAR8 *Languages,
                                                  UINTN *LanguagesSize);

// EFI_HII_STRING_PROTOCOL (UEFI 2.10, 34.3)
struct EFI_HII_STRING_PROTOCOL {
  VOID *NewString;
  EFI_HII_GET_STRING GetString;
  VOID *SetString;
  EFI_HII_GET_LANGUAGES GetLanguages;
  VOID *GetSecondaryLanguages;
};
static_assert(sizeof(EFI_HII_STRING_PROTOCOL) == 40);
static_assert(OFFSET_OF(EFI_HII_STRING_PROTOCOL, GetString) == 8);
static_assert(OFFSET_OF(EFI_HII_STRING_PROTOCOL, GetLanguages) == 24);
#endif  // SLOT_INVENTORY_EDK2

// A string package's fixed header ends with LanguageName; the language code
// follows it. (MdePkg's structure counts the code's first byte in its size.)
inline constexpr UINTN EFI_HII_STRING_PACKAGE_FIXED_SIZE =
    OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, LanguageName) + sizeof(EFI_STRING_ID);
static_assert(EFI_HII_STRING_PACKAGE_FIXED_SIZE == 46);
