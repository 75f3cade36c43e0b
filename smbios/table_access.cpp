#include "table_access.h"

#include "../base/firmware_services.h"
#include "../include/guids.h"

namespace {

// Each operation locates the protocol into a cache of its own on first use,
// and tries again on its next call if that failed.
constinit EFI_SMBIOS_PROTOCOL *gInsertSmbios = nullptr;
constinit EFI_SMBIOS_PROTOCOL *gFindSmbios = nullptr;
constinit EFI_SMBIOS_PROTOCOL *gRemoveSmbios = nullptr;
constinit EFI_SMBIOS_PROTOCOL *gPurgeSmbios = nullptr;

EFI_STATUS LocateSmbiosInto(EFI_SMBIOS_PROTOCOL **Cache) {
  if (*Cache != nullptr) {
    return EFI_SUCCESS;
  }
  VOID *interface = nullptr;
  EFI_STATUS status =
      gBootServices->LocateProtocol(ServiceGuid(gEfiSmbiosProtocolGuid), nullptr, &interface);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (interface == nullptr) {
    // A firmware that claims success without an interface has none to offer.
    return EFI_NOT_FOUND;
  }
  *Cache = static_cast<EFI_SMBIOS_PROTOCOL *>(interface);
  return EFI_SUCCESS;
}

// One step of a type-filtered walk; false at the end of the table.
bool NextRecordOfType(EFI_SMBIOS_PROTOCOL *Smbios, EFI_SMBIOS_HANDLE *Handle, UINT8 Type) {
  EFI_SMBIOS_TYPE typeFilter = Type;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  EFI_STATUS status = Smbios->GetNext(Smbios, Handle, &typeFilter, &record, nullptr);
  return !EFI_ERROR(status) && *Handle != SMBIOS_HANDLE_PI_RESERVED;
}

}  // namespace

EFI_STATUS InsertSmbiosRecord(VOID *Record) {
  EFI_STATUS status = LocateSmbiosInto(&gInsertSmbios);
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  return gInsertSmbios->Add(gInsertSmbios, nullptr, &handle,
                            static_cast<EFI_SMBIOS_TABLE_HEADER *>(Record));
}

EFI_STATUS FindSmbiosRecordOfType(UINT8 Type, EFI_SMBIOS_HANDLE *Handle) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS status = LocateSmbiosInto(&gFindSmbios);
  if (EFI_ERROR(status)) {
    return status;
  }
  // The first step of a walk from the start lands on the first record of the type.
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  if (!NextRecordOfType(gFindSmbios, &handle, Type)) {
    return EFI_NOT_FOUND;
  }
  *Handle = handle;
  return EFI_SUCCESS;
}

EFI_STATUS RemoveSmbiosRecordOfType(UINT8 Type) {
  EFI_STATUS status = LocateSmbiosInto(&gRemoveSmbios);
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  status = FindSmbiosRecordOfType(Type, &handle);
  if (EFI_ERROR(status)) {
    return status;
  }
  return gRemoveSmbios->Remove(gRemoveSmbios, handle);
}

EFI_STATUS PurgeSmbiosRecordsOfType(UINT8 Type) {
  EFI_STATUS status = LocateSmbiosInto(&gPurgeSmbios);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN count = 0;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  while (count < SMBIOS_MAX_RECORDS && NextRecordOfType(gPurgeSmbios, &handle, Type)) {
    count++;
  }
  for (UINTN i = 0; i < count; i++) {
    status = RemoveSmbiosRecordOfType(Type);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  return EFI_SUCCESS;
}

void ForgetSmbiosProtocol() {
  gInsertSmbios = nullptr;
  gFindSmbios = nullptr;
  gRemoveSmbios = nullptr;
  gPurgeSmbios = nullptr;
}
