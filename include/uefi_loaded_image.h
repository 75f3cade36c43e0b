// Loaded image protocol and device-path nodes (UEFI 2.10, 9.1 and 10.2-10.3).
#pragma once

#include "uefi_system_table.h"

#if defined(SLOT_INVENTORY_EDK2)
#include <Protocol/LoadedImage.h>
#else
// EFI_DEVICE_PATH_PROTOCOL (UEFI 2.10, 10.2): the generic node header.
struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4);

inline constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
// File-path node (UEFI 2.10, 10.3.5.4): a file on a file system by name.
inline constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;
inline constexpr UINT8 MEDIA_PIWG_FW_FILE_DP = 0x06;
inline constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
inline constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;

// MEDIA_FW_VOL_FILEPATH_DEVICE_PATH (UEFI 2.10, 10.3.5.6): names a file in a
// firmware volume by its file GUID.
struct MEDIA_FW_VOL_FILEPATH_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvFileName;
};
static_assert(sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH) == 20);
static_assert(OFFSET_OF(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH, FvFileName) == 4);

// MEDIA_FW_VOL_DEVICE_PATH (UEFI 2.10, 10.3.5.7): names a firmware volume; it
// starts the device path of the handle a DXE core gives each volume.
inline constexpr UINT8 MEDIA_PIWG_FW_VOL_DP = 0x07;
struct MEDIA_FW_VOL_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvName;
};
static_assert(sizeof(MEDIA_FW_VOL_DEVICE_PATH) == 20);
static_assert(OFFSET_OF(MEDIA_FW_VOL_DEVICE_PATH, FvName) == 4);

inline constexpr EFI_GUID EFI_DEVICE_PATH_PROTOCOL_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// EFI_LOADED_IMAGE_PROTOCOL (UEFI 2.10, 9.1)
struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  VOID *Unload;
};
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80);

inline constexpr UINT32 EFI_LOADED_IMAGE_PROTOCOL_REVISION = 0x1000;
#endif  // SLOT_INVENTORY_EDK2

// The file GUID that a firmware volume node carries starts this many bytes into the node.
inline constexpr UINTN DEVICE_PATH_NODE_HEADER_SIZE = sizeof(EFI_DEVICE_PATH_PROTOCOL);
