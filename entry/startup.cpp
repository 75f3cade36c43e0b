#include "startup.h"

#include "../base/firmware_services.h"
#include "../include/guids.h"
#include "../smbios/table_access.h"

namespace {

template <typename Interface>
void LocateInto(const EFI_GUID &Guid, Interface **Cache) {
  VOID *interface = nullptr;
  EFI_STATUS status = gBootServices->LocateProtocol(&Guid, nullptr, &interface);
  *Cache = EFI_ERROR(status) ? nullptr : static_cast<Interface *>(interface);
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
  return EFI_SUCCESS;
}

void ResetDriverState() {
  ForgetFirmwareServices();
  ForgetSmbiosProtocol();
}
