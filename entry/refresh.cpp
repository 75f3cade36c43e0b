#include "refresh.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../include/smbios_records.h"
#include "../inventory/mezzanine_slots.h"
#include "../inventory/onboard_devices.h"
#include "../inventory/riser_dispatch.h"
#include "../smbios/table_access.h"

namespace {

void AddMezzanineSlots(VOID *Record) {
  for (UINTN slotIndex = 0; slotIndex < MEZZANINE_SLOT_COUNT; slotIndex++) {
    ZeroBuffer(Record, RECORD_BUFFER_SIZE);
    if (!EFI_ERROR(BuildMezzanineSlot(Record, slotIndex))) {
      InsertSmbiosRecord(Record);
    }
  }
}

EFI_STATUS AddOnboardDevices(VOID *Record) {
  EFI_STATUS status = EFI_SUCCESS;
  for (UINTN deviceIndex = 0; deviceIndex < ONBOARD_DEVICE_COUNT; deviceIndex++) {
    ZeroBuffer(Record, RECORD_BUFFER_SIZE);
    status = BuildOnboardDevice(Record, deviceIndex);
    if (!EFI_ERROR(status)) {
      status = InsertSmbiosRecord(Record);
    }
  }
  return status;
}

}  // namespace

EFI_STATUS RefreshSlotAndDeviceRecords() {
  VOID *record = AllocateZeroedBuffer(RECORD_BUFFER_SIZE);
  if (record == nullptr) {
    // Nothing could be written in place of the earlier records: keep them.
    return EFI_OUT_OF_RESOURCES;
  }
  PurgeSmbiosRecordsOfType(SMBIOS_TYPE_SYSTEM_SLOTS);
  AddMezzanineSlots(record);
  AddRiserSlots();
  PurgeSmbiosRecordsOfType(SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION);
  EFI_STATUS status = AddOnboardDevices(record);
  FreeBuffer(record);
  return status;
}
