#include "record_model.h"

#include "platform_layout.h"

void PrepareSlotHeader(VOID *Record) {
  SMBIOS_TABLE_TYPE9 *slot = static_cast<SMBIOS_TABLE_TYPE9 *>(Record);
  slot->Hdr.Type = SMBIOS_TYPE_SYSTEM_SLOTS;
  slot->Hdr.Length = SMBIOS_TYPE9_LENGTH;
  slot->Hdr.Handle = SMBIOS_HANDLE_PI_RESERVED;
  slot->SlotDesignation = 1;
  slot->SlotLength = SLOT_LENGTH;
  slot->SegmentGroupNum = 0;
  slot->BusNum = 0;
  // As bytes: MdePkg declares the two characteristics as bit-field structures.
  UINT8 *bytes = static_cast<UINT8 *>(Record);
  bytes[OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotCharacteristics1)] |= SLOT_CHARACTERISTICS1;
  bytes[OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotCharacteristics2)] |= SLOT_CHARACTERISTICS2;
}

void PrepareDeviceHeader(VOID *Record) {
  SMBIOS_TABLE_TYPE41 *device = static_cast<SMBIOS_TABLE_TYPE41 *>(Record);
  device->Hdr.Type = SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION;
  device->Hdr.Length = SMBIOS_TYPE41_LENGTH;
  device->Hdr.Handle = SMBIOS_HANDLE_PI_RESERVED;
  device->ReferenceDesignation = 1;
  device->SegmentGroupNum = 0;
}
