#include "startup.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../hii/string_package.h"
#include "../hii/string_registration.h"
#include "../include/guids.h"
#include "../include/uefi_loaded_image.h"
#include "../smbios/table_access.h"
#include "refresh.h"

namespace {

// The protocol's interface, or null when the firmware has none.
VOID *LocateInterface(const EFI_GUID &Guid) {
  VOID *interface = nullptr;
  EFI_STATUS status = gBootServices->LocateProtocol(ServiceGuid(Guid), nullptr, &interface);
  return EFI_ERROR(status) ? nullptr : interface;
}

template <typename Interface>
void LocateInto(const EFI_GUID &Guid, Interface **Cache) {
  *Cache = static_cast<Interface *>(LocateInterface(Guid));
}

// A driver loaded from a firmware volume finds its file GUID in the first
// node of its file path, a firmware-volume file node. An image loaded from a
// file system (the shell's "load") starts with a file-path node instead, which
// may be shorter than a GUID: only the bytes the node holds are copied, and
// the rest of the GUID reads as zero.
void CopyFileGuid(const EFI_LOADED_IMAGE_PROTOCOL *LoadedImage, EFI_GUID *Guid) {
  const EFI_DEVICE_PATH_PROTOCOL *node = LoadedImage->FilePath;
  UINTN nodeLength = static_cast<UINTN>(node->Length[0]) | static_cast<UINTN>(node->Length[1]) << 8;
  UINTN held = nodeLength > DEVICE_PATH_NODE_HEADER_SIZE ? nodeLength - DEVICE_PATH_NODE_HEADER_SIZE : 0;
  UINTN count = held < sizeof(EFI_GUID) ? held : sizeof(EFI_GUID);
  ZeroBuffer(Guid, sizeof(EFI_GUID));
  MoveBuffer(Guid, reinterpret_cast<const UINT8 *>(node) + DEVICE_PATH_NODE_HEADER_SIZE, count);
}

}  // namespace

void CaptureFirmwareServices(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  gRuntimeServices = SystemTable->RuntimeServices;
  if (gRegisterAccess == nullptr) {
    LocateInto(gRegisterAccessProtocolGuid, &gRegisterAccess);
  }
  LocateInto(gEfiHiiStringProtocolGuid, &gHiiString);
  LocateInto(gEfiHiiDatabaseProtocolGuid, &gHiiDatabase);
}

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CaptureFirmwareServices(ImageHandle, SystemTable);

  VOID *interface = nullptr;
  EFI_STATUS status =
      gBootServices->HandleProtocol(ImageHandle, ServiceGuid(gEfiLoadedImageProtocolGuid), &interface);
  if (EFI_ERROR(status)) {
    return status;
  }
  const EFI_LOADED_IMAGE_PROTOCOL *loadedImage =
      static_cast<const EFI_LOADED_IMAGE_PROTOCOL *>(interface);
  if (loadedImage == nullptr || loadedImage->FilePath == nullptr) {
    // Without a file path there is no GUID to name the strings by.
    return EFI_LOAD_ERROR;
  }
  CopyFileGuid(loadedImage, &PackageListGuid);

  const UINT8 *packages[] = {DriverStringPackage};
  gHiiHandle = RegisterStringPackages(PackageListGuid, ImageHandle, packages, 1);

  return RefreshSlotAndDeviceRecords();
}

void ResetDriverState() {
  ForgetFirmwareServices();
  ForgetSmbiosProtocol();
  ForgetHiiState();
}
