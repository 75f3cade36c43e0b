// The floor: a boot-service driver that does only what any implementation of
// the slot inventory driver must do in firmware, with the results handed to
// it in its load options. It registers the string package list, removes the
// earlier Type 9 records and adds the new ones, then does the same for Type
// 41, the order the driver follows. It reads no hardware, variable or string.
#include "include/guids.h"
#include "include/uefi_loaded_image.h"
#include "include/uefi_system_table.h"
#include "tests/uefi/floor_driver/floor_plan.h"

namespace {

constexpr UINT8 SYSTEM_SLOTS = 9;
constexpr UINT8 ONBOARD_DEVICES = 41;

// One walk collects the handles of every record of the type; then each goes.
UINT32 RemoveRecordsOfType(EFI_SMBIOS_PROTOCOL *Smbios, UINT8 Type) {
  EFI_SMBIOS_HANDLE handles[FLOOR_MAX_RECORDS];
  UINT32 found = 0;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TYPE type = Type;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  while (found < FLOOR_MAX_RECORDS &&
         !EFI_ERROR(Smbios->GetNext(Smbios, &handle, &type, &record, nullptr))) {
    handles[found++] = handle;
  }
  for (UINT32 i = 0; i < found; i++) {
    Smbios->Remove(Smbios, handles[i]);
  }
  return found;
}

UINT32 AddRecords(EFI_SMBIOS_PROTOCOL *Smbios, EFI_SMBIOS_TABLE_HEADER *const *Records,
                  UINT32 Count) {
  UINT32 added = 0;
  for (UINT32 i = 0; i < Count; i++) {
    EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
    if (!EFI_ERROR(Smbios->Add(Smbios, nullptr, &handle, Records[i]))) {
      added++;
    }
  }
  return added;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI FloorDriverEntry(EFI_HANDLE ImageHandle,
                                              EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *boot = SystemTable->BootServices;
  VOID *interface = nullptr;
  if (EFI_ERROR(boot->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, &interface))) {
    return EFI_LOAD_ERROR;
  }
  auto *loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(interface);
  if (loaded->LoadOptionsSize < sizeof(FloorPlan)) {
    return EFI_INVALID_PARAMETER;
  }
  auto *plan = static_cast<FloorPlan *>(loaded->LoadOptions);
  if (plan->SlotRecordCount + plan->DeviceRecordCount > FLOOR_MAX_RECORDS) {
    return EFI_INVALID_PARAMETER;
  }
  VOID *database = nullptr;
  VOID *smbios = nullptr;
  if (EFI_ERROR(boot->LocateProtocol(&gEfiHiiDatabaseProtocolGuid, nullptr, &database)) ||
      EFI_ERROR(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &smbios))) {
    return EFI_NOT_FOUND;
  }
  auto *hii = static_cast<EFI_HII_DATABASE_PROTOCOL *>(database);
  plan->RegisterStatus =
      hii->NewPackageList(hii, plan->PackageList, ImageHandle, &plan->PackageListHandle);

  auto *table = static_cast<EFI_SMBIOS_PROTOCOL *>(smbios);
  plan->Removed = RemoveRecordsOfType(table, SYSTEM_SLOTS);
  plan->Added = AddRecords(table, plan->Records, plan->SlotRecordCount);
  plan->Removed += RemoveRecordsOfType(table, ONBOARD_DEVICES);
  plan->Added += AddRecords(table, plan->Records + plan->SlotRecordCount, plan->DeviceRecordCount);
  return EFI_SUCCESS;
}
