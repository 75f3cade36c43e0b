#include "slot_fill.h"

#include "../base/memory.h"
#include "../hii/string_lookup.h"
#include "../hw/pci_config.h"
#include "../smbios/record_strings.h"
#include "slot_form.h"

// WIDTH_ENCODING, the platform's widths.
#include "slot_width_table.h"

namespace {

SMBIOS_TABLE_TYPE9 *AsSlot(VOID *Record) { return static_cast<SMBIOS_TABLE_TYPE9 *>(Record); }

// Every record carries one string, its designation, as string 1.
constexpr UINT8 DESIGNATION_STRING = 1;

bool StringAreaIsEmpty(const VOID *Record) {
  const UINT8 *bytes = static_cast<const UINT8 *>(Record);
  UINT8 formattedLength = bytes[1];
  return bytes[formattedLength] == 0 && bytes[formattedLength + 1] == 0;
}

void EmptyStringArea(VOID *Record) {
  UINT8 *bytes = static_cast<UINT8 *>(Record);
  UINT8 formattedLength = bytes[1];
  bytes[formattedLength] = 0;
  bytes[formattedLength + 1] = 0;
}

// Places a fetched string as the designation and releases it. The record is
// added either way, with its own designation or with none (string number 0):
// a riser's shared buffer still holds the slot before's, and a record named
// after another slot is worse than an unnamed one.
void PlaceDesignation(VOID *Record, CHAR16 *Designation) {
  bool placed = false;
  if (Designation != nullptr) {
    placed = !EFI_ERROR(ReplaceRecordString(Record, DESIGNATION_STRING, Designation));
    FreeBuffer(Designation);
  }
  if (!placed) {
    EmptyStringArea(Record);
  }
  UINT8 *designationNumber = static_cast<UINT8 *>(Record) + RECORD_DESIGNATION_OFFSET;
  *designationNumber = StringAreaIsEmpty(Record) ? 0 : DESIGNATION_STRING;
}

}  // namespace

void FillSlot(VOID *Record, UINT8 Socket, UINT8 Group, UINT8 RootDevice, SlotWidth Width) {
  SMBIOS_TABLE_TYPE9 *slot = AsSlot(Record);
  UINT8 bus = RootPortBus(Socket, Group);
  const WidthEncoding &encoding = WIDTH_ENCODING[static_cast<UINT8>(Width)];
  slot->SlotType = encoding.SlotType;
  slot->SlotDataBusWidth = encoding.DataBusWidth;
  slot->BusNum = bus;
  slot->DevFuncNum = EncodeDeviceFunction(RootDevice, 0);
  slot->CurrentUsage = IsDevicePresentBehind(bus, RootDevice) ? SlotUsageInUse
                                                              : SlotUsageAvailable;
}

void AttachDesignationString(VOID *Record, EFI_STRING_ID StringId) {
  PlaceDesignation(Record, LookupDriverString(StringId));
}

void DescribeSlot(VOID *Record, const SlotDescription &Slot) {
  AsSlot(Record)->SlotID = Slot.SlotId;
  CHAR16 *designation = LookupDriverString(Slot.StringId);
  if (Slot.Shape.Width != SlotWidth::Unwired) {
    FillSlot(Record, Slot.Shape.Socket, Slot.Shape.Group, Slot.Shape.RootDevice, Slot.Shape.Width);
    if constexpr (SLOT_RECORD_LAYOUT != SlotRecordLayout::Smbios26) {
      FillLaterSlotFields(Record, Slot.Shape.Form);
    }
  }
  PlaceDesignation(Record, designation);
}
