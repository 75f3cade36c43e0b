#include "tests/uefi/harness/origins.h"

#include "include/guids.h"
#include "include/uefi_file.h"
#include "include/uefi_loaded_image.h"
#include "tests/uefi/harness/images.h"
#include "tests/uefi/harness/page_attributes.h"
#include "tests/uefi/common/console.h"

namespace {

// The PathName of a file-path node, ASCII only, bounded by the node's length.
constexpr UINTN PATH_TEXT_LIMIT = 64;

UINTN NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Length[0] | static_cast<UINTN>(Node->Length[1]) << 8;
}

bool HasProtocol(const FirmwareContext &Context, EFI_HANDLE Handle, const EFI_GUID &Protocol) {
  return HandleInterface<VOID>(Context, Handle, Protocol) != nullptr;
}

// The GUID the driver names its package list by: the bytes after the first
// node's header, as far as the node holds them, zeros beyond.
EFI_GUID PackageListGuidOf(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  EFI_GUID guid = {};
  auto *target = reinterpret_cast<UINT8 *>(&guid);
  auto *source = reinterpret_cast<const UINT8 *>(Node) + DEVICE_PATH_NODE_HEADER_SIZE;
  UINTN length = NodeLength(Node);
  for (UINTN i = 0; i < sizeof(guid) && DEVICE_PATH_NODE_HEADER_SIZE + i < length; i++) {
    target[i] = source[i];
  }
  return guid;
}

// Copies the node's path as ASCII; true when it ends in Name (case aside).
bool FilePathText(const EFI_DEVICE_PATH_PROTOCOL *Node, const CHAR16 *Name, CHAR8 *Text) {
  auto *path = reinterpret_cast<const CHAR16 *>(reinterpret_cast<const UINT8 *>(Node) +
                                                DEVICE_PATH_NODE_HEADER_SIZE);
  UINTN count = (NodeLength(Node) - DEVICE_PATH_NODE_HEADER_SIZE) / sizeof(CHAR16);
  UINTN length = 0;
  while (length < count && length < PATH_TEXT_LIMIT && path[length] != 0) {
    Text[length] = static_cast<CHAR8>(path[length] < 0x80 ? path[length] : '?');
    length++;
  }
  Text[length] = 0;
  UINTN nameLength = 0;
  while (Name[nameLength] != 0) {
    nameLength++;
  }
  if (nameLength > length) {
    return false;
  }
  for (UINTN i = 0; i < nameLength; i++) {
    CHAR8 have = Text[length - nameLength + i];
    CHAR16 want = Name[i];
    if ((have | 0x20) != (static_cast<CHAR8>(want) | 0x20)) {
      return false;
    }
  }
  return true;
}

// The volume GUID of the firmware-volume node that starts a handle's device path.
void PutVolumeName(const FirmwareContext &Context, EFI_HANDLE Handle) {
  PutText(" volume=");
  auto *node = HandleInterface<const MEDIA_FW_VOL_DEVICE_PATH>(Context, Handle,
                                                                EFI_DEVICE_PATH_PROTOCOL_GUID);
  if (node == nullptr) {
    PutText("none");
    return;
  }
  if (node->Header.Type != MEDIA_DEVICE_PATH || node->Header.SubType != MEDIA_PIWG_FW_VOL_DP) {
    PutText("other");
    return;
  }
  PutGuid(node->FvName);
}

// Whether the image is one of the driver's, reported.
bool ReportImage(const FirmwareContext &Context, EFI_HANDLE Image, const EFI_GUID &FileGuid,
                 const CHAR16 *FileName) {
  auto *loaded =
      HandleInterface<EFI_LOADED_IMAGE_PROTOCOL>(Context, Image, gEfiLoadedImageProtocolGuid);
  if (loaded == nullptr) {
    return false;
  }
  auto *node = reinterpret_cast<const MEDIA_FW_VOL_FILEPATH_DEVICE_PATH *>(loaded->FilePath);
  if (node == nullptr || node->Header.Type != MEDIA_DEVICE_PATH ||
      NodeLength(&node->Header) < DEVICE_PATH_NODE_HEADER_SIZE) {
    return false;
  }
  CHAR8 text[PATH_TEXT_LIMIT + 1];
  if (node->Header.SubType == MEDIA_PIWG_FW_FILE_DP &&
      NodeLength(&node->Header) == sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH) &&
      GuidsEqual(node->FvFileName, FileGuid)) {
    PutText("origin kind=firmware-file file=");
    PutGuid(node->FvFileName);
    PutField("fv2", HasProtocol(Context, loaded->DeviceHandle, gEfiFirmwareVolume2ProtocolGuid), 1);
    PutVolumeName(Context, loaded->DeviceHandle);
  } else if (node->Header.SubType == MEDIA_FILEPATH_DP &&
             FilePathText(&node->Header, FileName, text)) {
    PutText("origin kind=file-path path=");
    PutText(text);
    PutField("fs", HasProtocol(Context, loaded->DeviceHandle, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID), 1);
  } else {
    return false;
  }
  EFI_GUID listGuid = PackageListGuidOf(&node->Header);
  PutField("node-length", NodeLength(&node->Header), 4);
  PutText(" package-list=");
  PutGuid(listGuid);
  PutNewLine();
  ReportImagePages(Context, loaded->ImageBase, loaded->ImageSize);
  ReportPackageLists(Context, listGuid);
  return true;
}

}  // namespace

UINTN ReportDriverOrigins(const FirmwareContext &Context, const EFI_GUID &FileGuid,
                          const CHAR16 *FileName) {
  auto locate = Service<EFI_LOCATE_HANDLE_BUFFER>(Context.BootServices->LocateHandleBuffer);
  UINTN count = 0;
  EFI_HANDLE *images = nullptr;
  EFI_STATUS status = locate(ByProtocol, &gEfiLoadedImageProtocolGuid, nullptr, &count, &images);
  PutText("loaded-images");
  PutStatus("status", status);
  PutField("count", EFI_ERROR(status) ? 0 : count, 4);
  PutNewLine();
  if (EFI_ERROR(status)) {
    return 0;
  }
  UINTN found = 0;
  for (UINTN i = 0; i < count; i++) {
    found += ReportImage(Context, images[i], FileGuid, FileName) ? 1 : 0;
  }
  Context.BootServices->FreePool(images);
  return found;
}
