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
  EFI_STATUS status = gBootServices->LocateProtocol(&Guid, nullptr, &interface);
  return EFI_ERROR(status) ? nullptr : interface;
}

template <typename Interface>
void LocateInto(const EFI_GUID &Guid, Interface **Cache) {
  *Cache = static_cast<Interface *>(LocateInterface(Guid));
}

// A driver loaded from a firmware volume finds its file GUID in the first
// node of its file path, a firmware-volume file node.
void CopyFileGuid(const EFI_LOADED_IMAGE_PROTOCOL *LoadedImage, EFI_GUID *Guid) {
  const UINT8 *node = reinterpret_cast<const UINT8 *>(LoadedImage->FilePath);
  MoveBuffer(Guid, node + DEVICE_PATH_NODE_HEADER_SIZE, sizeof(EFI_GUID));
}

}  // namespace

void CaptureFirmwareServices(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  gRuntimeServices = SystemTable->RuntimeServices;
  if (gRegisterAccess == nullptr) {
    LocateInto(REGISTER_ACCESS_PROTOCOL_GUID, &gRegisterAccess);
  }
  LocateInto(EFI_HII_STRING_PROTOCOL_GUID, &gHiiString);
  LocateInto(EFI_HII_DATABASE_PROTOCOL_GUID, &gHiiDatabase);
}

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CaptureFirmwareServices(ImageHandle, SystemTable);

  VOID *interface = nullptr;
  EFI_STATUS status =
      gBootServices->HandleProtocol(ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &interface);
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
