#include "tests/uefi/test_platform/fw_cfg.h"

namespace {

constexpr UINT16 FW_CFG_SELECTOR_PORT = 0x510;
constexpr UINT16 FW_CFG_DATA_PORT = 0x511;
constexpr UINT16 FW_CFG_SIGNATURE = 0x0000;
constexpr UINT16 FW_CFG_FILE_DIR = 0x0019;
constexpr UINT32 FW_CFG_SIGNATURE_QEMU = 0x554D4551;  // "QEMU" as read byte by byte

// One directory entry as the device sends it (all numbers big-endian).
struct __attribute__((packed)) FwCfgFile {
  UINT8 Size[4];
  UINT8 Select[2];
  UINT8 Reserved[2];
  CHAR8 Name[FW_CFG_NAME_SIZE];
};
static_assert(sizeof(FwCfgFile) == 64);

void Select(UINT16 Key) { IoWrite16(FW_CFG_SELECTOR_PORT, Key); }

void ReadBytes(VOID *Buffer, UINTN Length) {
  auto *bytes = static_cast<UINT8 *>(Buffer);
  for (UINTN i = 0; i < Length; i++) {
    bytes[i] = IoRead8(FW_CFG_DATA_PORT);
  }
}

UINT32 BigEndian32(const UINT8 *Bytes) {
  return static_cast<UINT32>(Bytes[0]) << 24 | static_cast<UINT32>(Bytes[1]) << 16 |
         static_cast<UINT32>(Bytes[2]) << 8 | Bytes[3];
}

bool NameMatches(const CHAR8 (&Entry)[FW_CFG_NAME_SIZE], const CHAR8 *Name) {
  for (UINTN i = 0; i < FW_CFG_NAME_SIZE; i++) {
    if (Entry[i] != Name[i]) {
      return false;
    }
    if (Name[i] == 0) {
      return true;
    }
  }
  return false;
}

// The entry named Name, read from the directory; false when there is none.
bool FindFile(const CHAR8 *Name, FwCfgFile *Found) {
  Select(FW_CFG_FILE_DIR);
  UINT8 countBytes[4];
  ReadBytes(countBytes, sizeof(countBytes));
  UINT32 count = BigEndian32(countBytes);
  for (UINT32 i = 0; i < count; i++) {
    ReadBytes(Found, sizeof(*Found));
    if (NameMatches(Found->Name, Name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

EFI_STATUS ReadFwCfgFile(const FirmwareContext &Context, const CHAR8 *Name, UINT8 **Data,
                         UINTN *Size) {
  Select(FW_CFG_SIGNATURE);
  UINT32 signature = 0;
  ReadBytes(&signature, sizeof(signature));
  if (signature != FW_CFG_SIGNATURE_QEMU) {
    return EFI_UNSUPPORTED;
  }
  FwCfgFile file;
  if (!FindFile(Name, &file)) {
    return EFI_NOT_FOUND;
  }
  UINTN size = BigEndian32(file.Size);
  VOID *buffer = nullptr;
  EFI_STATUS status = Context.BootServices->AllocatePool(EfiBootServicesData, size + 1, &buffer);
  if (EFI_ERROR(status)) {
    return status;
  }
  Select(static_cast<UINT16>(file.Select[0] << 8 | file.Select[1]));
  ReadBytes(buffer, size);
  static_cast<UINT8 *>(buffer)[size] = 0;
  *Data = static_cast<UINT8 *>(buffer);
  *Size = size;
  return EFI_SUCCESS;
}
