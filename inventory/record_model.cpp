#include "record_model.h"

void PrepareSlotHeader(VOID *Record) {
  SMBIOS_TABLE_TYPE9 *slot = static_cast<SMBIOS_TABLE_TYPE9 *>(Record);
  slot->Hdr.Type = SMBIOS_TYPE_SYSTEM_SLOTS;
  slot->Hdr.Length = sizeof(SMBIOS_TABLE_TYPE9);
  slot->Hdr.Handle = SMBIOS_HANDLE_PI_RESERVED;
  slot->SlotDesignation = 1;
  slot->SlotLength = SLOT_LENGTH_LONG;
  slot->SegmentGroupNum = 0;
  slot->BusNum = 0;
  slot->SlotCharacteristics1 |= SLOT_CHARACTERISTICS1_PROVIDES_3_3V;
  slot->SlotCharacteristics2 |= SLOT_CHARACTERISTICS2_PME_AND_SMBUS;
}

void PrepareDeviceHeader(VOID *Record) {
  SMBIOS_TABLE_TYPE41 *device = static_cast<SMBIOS_TABLE_TYPE41 *>(Record);
  device->Hdr.Type = SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED;
  device->Hdr.Length = sizeof(SMBIOS_TABLE_TYPE41);
  device->Hdr.Handle = SMBIOS_HANDLE_PI_RESERVED;
  device->ReferenceDesignation = 1;
  device->SegmentGroupNum = 0;
}
