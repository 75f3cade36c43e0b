#include "record_model.h"

#include "../base/memory.h"
#include "../smbios/record_strings.h"
#include "platform_layout.h"

void PrepareSlotHeader(VOID *Record) {
  SMBIOS_TABLE_TYPE9 *slot = static_cast<SMBIOS_TABLE_TYPE9 *>(Record);
  slot->Hdr.Type = SMBIOS_TYPE_SYSTEM_SLOTS;
  slot->Hdr.Length = SlotRecordLength(SLOT_RECORD_LAYOUT, 0);
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

void ResizeFormattedArea(VOID *Record, UINT8 Length) {
  UINT8 *bytes = static_cast<UINT8 *>(Record);
  UINT8 formerLength = bytes[1];
  UINTN recordSize = 0;
  const VOID *record = Record;
  if (!EFI_ERROR(MeasureSmbiosRecord(record, &recordSize)) &&
      Length + (recordSize - formerLength) <= RECORD_BUFFER_SIZE) {
    MoveBuffer(bytes + Length, bytes + formerLength, recordSize - formerLength);
  } else {
    bytes[Length] = 0;
    bytes[Length + 1] = 0;
  }
  bytes[1] = Length;
}
