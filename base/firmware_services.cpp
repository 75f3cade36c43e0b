#include "firmware_services.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;
constinit EFI_RUNTIME_SERVICES *gRuntimeServices = nullptr;
constinit RegisterAccessProtocol *gRegisterAccess = nullptr;
constinit EFI_HII_STRING_PROTOCOL *gHiiString = nullptr;
constinit EFI_HII_DATABASE_PROTOCOL *gHiiDatabase = nullptr;

void ForgetFirmwareServices() {
  gSystemTable = nullptr;
  gBootServices = nullptr;
  gRuntimeServices = nullptr;
  gRegisterAccess = nullptr;
  gHiiString = nullptr;
  gHiiDatabase = nullptr;
}
