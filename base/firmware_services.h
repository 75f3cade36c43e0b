// The firmware services captured at start-up and used for the rest of the run.
#pragma once

#include "../include/register_access.h"
#include "../include/uefi_hii.h"
#include "../include/uefi_system_table.h"

extern EFI_SYSTEM_TABLE *gSystemTable;
extern EFI_BOOT_SERVICES *gBootServices;
extern EFI_RUNTIME_SERVICES *gRuntimeServices;

// Located once at start-up; null when the firmware has none.
extern RegisterAccessProtocol *gRegisterAccess;
extern EFI_HII_STRING_PROTOCOL *gHiiString;
extern EFI_HII_DATABASE_PROTOCOL *gHiiDatabase;

// MdePkg's prototypes take GUIDs and variable names through non-const
// pointers, and its CHAR16 is not char16_t; the firmware only reads them.
inline EFI_GUID *ServiceGuid(const EFI_GUID &Guid) { return const_cast<EFI_GUID *>(&Guid); }
inline CHAR16 *ServiceText(const char16_t *Text) {
  return reinterpret_cast<CHAR16 *>(const_cast<char16_t *>(Text));
}

// Back to the state of a freshly loaded image, so one host process can load
// the driver many times.
void ForgetFirmwareServices();
