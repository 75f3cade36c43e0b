#include "tests/uefi/common/earlier_records.h"

#include "include/guids.h"
#include "include/smbios_records.h"
#include "tests/uefi/common/console.h"

namespace {

constexpr UINTN STRUCTURE_DESIGNATION_OFFSET = 4;

UINT8 FormattedLength(UINT8 Type) {
  if (Type == SMBIOS_TYPE_SYSTEM_SLOTS) {
    return sizeof(SMBIOS_TABLE_TYPE9);
  }
  if (Type == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
    return sizeof(SMBIOS_TABLE_TYPE41);
  }
  return sizeof(EFI_SMBIOS_TABLE_HEADER);
}

// The same bytes an earlier producer of the board simulator writes.
void BuildEarlierRecord(const EarlierRecord &Record, RecordScratch *Scratch) {
  UINT8 formatted = FormattedLength(Record.Type);
  StartScratchRecord(Record.Type, formatted, Scratch);
  UINT8 *bytes = Scratch->Bytes;
  bool hasStrings = Record.StringsLength > 2;
  if (formatted > STRUCTURE_DESIGNATION_OFFSET && hasStrings) {
    bytes[STRUCTURE_DESIGNATION_OFFSET] = 1;
  }
  if (Record.Type == SMBIOS_TYPE_SYSTEM_SLOTS) {
    bytes[0x05] = SlotTypePciExpressGen3X8;
    bytes[0x06] = SlotDataBusWidth8X;
    bytes[0x07] = SlotUsageAvailable;
    bytes[0x08] = SlotLengthLong;
  }
  if (Record.Type == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
    bytes[0x05] = OnBoardDeviceExtendedTypeVideo;
  }
  for (UINTN i = 0; i < Record.StringsLength; i++) {
    bytes[formatted + i] = static_cast<UINT8>(Record.Strings[i]);
  }
  Scratch->Length = formatted + Record.StringsLength;
}

}  // namespace

void StartScratchRecord(UINT8 Type, UINT8 FormattedLength, RecordScratch *Scratch) {
  for (UINTN i = 0; i < RECORD_SCRATCH_SIZE; i++) {
    Scratch->Bytes[i] = 0;
  }
  Scratch->Bytes[0] = Type;
  Scratch->Bytes[1] = FormattedLength;
  Scratch->Bytes[2] = static_cast<UINT8>(SMBIOS_HANDLE_PI_RESERVED);
  Scratch->Bytes[3] = static_cast<UINT8>(SMBIOS_HANDLE_PI_RESERVED >> 8);
  Scratch->Length = 0;
}

EFI_STATUS AddScratch(EFI_SMBIOS_PROTOCOL *Smbios, RecordScratch *Scratch,
                      EFI_SMBIOS_HANDLE *Handle) {
  return Smbios->Add(Smbios, nullptr, Handle,
                     reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(Scratch->Bytes));
}

EFI_SMBIOS_PROTOCOL *LocateSmbios(const FirmwareContext &Context) {
  return LocateInterface<EFI_SMBIOS_PROTOCOL>(Context, gEfiSmbiosProtocolGuid);
}

void AddEarlierRecords(const FirmwareContext &Context, const Scenario &Plan) {
  EFI_SMBIOS_PROTOCOL *smbios = LocateSmbios(Context);
  for (UINTN i = 0; i < Plan.RecordCount; i++) {
    RecordScratch scratch;
    BuildEarlierRecord(Plan.Records[i], &scratch);
    EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
    EFI_STATUS status = smbios == nullptr ? EFI_NOT_FOUND : AddScratch(smbios, &scratch, &handle);
    PutText("earlier");
    PutField("type", Plan.Records[i].Type, 2);
    PutStatus("status", status);
    PutField("handle", handle, 4);
    PutNewLine();
  }
}

void ReportProtocolRecords(EFI_SMBIOS_PROTOCOL *Smbios) {
  if (Smbios == nullptr) {
    PutText("record protocol=absent");
    PutNewLine();
    return;
  }
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  EFI_HANDLE producer = nullptr;
  while (!EFI_ERROR(Smbios->GetNext(Smbios, &handle, nullptr, &record, &producer)) &&
         handle != SMBIOS_HANDLE_PI_RESERVED) {
    PutText("record");
    PutField("handle", handle, 4);
    PutField("type", record->Type, 2);
    PutField("length", record->Length, 2);
    PutField("producer", reinterpret_cast<UINTN>(producer), 16);
    PutNewLine();
  }
}

void ReportRecords(const CHAR8 *Phase, EFI_SMBIOS_PROTOCOL *Smbios) {
  PutText("records phase=");
  PutText(Phase);
  PutNewLine();
  ReportProtocolRecords(Smbios);
}
