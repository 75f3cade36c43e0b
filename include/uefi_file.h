// Simple file system and file protocols (UEFI 2.10, 13.4 and 13.5).
#pragma once

#include "uefi_base.h"

struct EFI_FILE_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                          const CHAR16 *FileName, UINT64 OpenMode,
                                          UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                          VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);

// EFI_FILE_PROTOCOL (UEFI 2.10, 13.5.1): the revision 1 members; later
// revisions only append.
struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  VOID *Delete;
  EFI_FILE_READ Read;
  VOID *Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  VOID *GetInfo;
  VOID *SetInfo;
  VOID *Flush;
};
static_assert(sizeof(EFI_FILE_PROTOCOL) == 88);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Close) == 16);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Read) == 32);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, GetPosition) == 48);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, SetPosition) == 56);

inline constexpr UINT64 EFI_FILE_MODE_READ = 0x1;
// SetPosition to this value moves to the end of the file.
inline constexpr UINT64 EFI_FILE_POSITION_END = 0xFFFFFFFFFFFFFFFFULL;

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This,
                                                               EFI_FILE_PROTOCOL **Root);

// EFI_SIMPLE_FILE_SYSTEM_PROTOCOL (UEFI 2.10, 13.4.1)
struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME OpenVolume;
};
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16);
static_assert(OFFSET_OF(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);

inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
