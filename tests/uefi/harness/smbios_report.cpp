#include "tests/uefi/harness/smbios_report.h"

#include "include/guids.h"
#include "include/smbios_entry_point.h"
#include "include/smbios_records.h"
#include "tests/uefi/common/console.h"
#include "tests/uefi/common/earlier_records.h"

namespace {

constexpr UINT8 PROBE_TYPE = 0xC0;

// A probe record: type 0xC0, header only, one string of Length 'p's (none for 0).
void BuildProbeRecord(UINTN StringLength, RecordScratch *Scratch) {
  StartScratchRecord(PROBE_TYPE, sizeof(EFI_SMBIOS_TABLE_HEADER), Scratch);
  UINTN at = sizeof(EFI_SMBIOS_TABLE_HEADER);
  for (UINTN i = 0; i < StringLength && at < RECORD_SCRATCH_SIZE - 2; i++) {
    Scratch->Bytes[at++] = 'p';
  }
  at += 2;  // the string's NUL (or the first of an empty area) and the final NUL
  Scratch->Length = at;
}

void DumpEntryAndTable(const CHAR8 *Kind, const UINT8 *Entry, UINTN EntryLength, UINT64 Table,
                       UINT64 TableLength) {
  PutText(Kind);
  PutText("-entry");
  PutField("address", reinterpret_cast<UINTN>(Entry), 16);
  PutField("length", EntryLength, 4);
  PutNewLine();
  PutHexDump(Entry, EntryLength);
  PutText(Kind);
  PutText("-table");
  PutField("address", Table, 16);
  PutField("length", TableLength, 8);
  PutNewLine();
  PutHexDump(reinterpret_cast<const VOID *>(static_cast<UINTN>(Table)), static_cast<UINTN>(TableLength));
}

void ProbeLine(const CHAR8 *What, EFI_STATUS Status, EFI_SMBIOS_HANDLE Handle) {
  PutText("probe ");
  PutText(What);
  PutStatus("status", Status);
  PutField("handle", Handle, 4);
  PutNewLine();
}

EFI_SMBIOS_HANDLE ProbeAdd(EFI_SMBIOS_PROTOCOL *Smbios, const CHAR8 *What, UINTN StringLength,
                           EFI_SMBIOS_HANDLE Requested) {
  RecordScratch scratch;
  BuildProbeRecord(StringLength, &scratch);
  EFI_SMBIOS_HANDLE handle = Requested;
  EFI_STATUS status = AddScratch(Smbios, &scratch, &handle);
  ProbeLine(What, status, handle);
  return handle;
}

void ProbeGetNext(EFI_SMBIOS_PROTOCOL *Smbios, const CHAR8 *What, EFI_SMBIOS_HANDLE Start,
                  EFI_SMBIOS_TYPE *Type) {
  EFI_SMBIOS_HANDLE handle = Start;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  EFI_STATUS status = Smbios->GetNext(Smbios, &handle, Type, &record, nullptr);
  ProbeLine(What, status, handle);
}

}  // namespace

void DumpSmbiosTables(const FirmwareContext &Context) {
  auto *entry3 = static_cast<const SMBIOS_ENTRY_POINT_30 *>(FindConfigurationTable(Context, SMBIOS3_TABLE_GUID));
  if (entry3 != nullptr) {
    DumpEntryAndTable("smbios3", reinterpret_cast<const UINT8 *>(entry3), entry3->EntryPointLength,
                      entry3->TableAddress, entry3->TableMaximumSize);
  }
  auto *entry = static_cast<const SMBIOS_ENTRY_POINT_21 *>(FindConfigurationTable(Context, SMBIOS_TABLE_GUID));
  if (entry != nullptr) {
    DumpEntryAndTable("smbios", reinterpret_cast<const UINT8 *>(entry), entry->EntryPointLength,
                      entry->TableAddress, entry->TableLength);
  }
}

void ProbeSmbiosProtocol(EFI_SMBIOS_PROTOCOL *Smbios) {
  if (Smbios == nullptr) {
    return;
  }
  PutText("probe version");
  PutField("major", Smbios->MajorVersion, 2);
  PutField("minor", Smbios->MinorVersion, 2);
  PutNewLine();
  EFI_SMBIOS_HANDLE first = ProbeAdd(Smbios, "add-first", 1, SMBIOS_HANDLE_PI_RESERVED);
  EFI_SMBIOS_HANDLE second = ProbeAdd(Smbios, "add-second", 1, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-handle-in-use", 1, second);
  EFI_SMBIOS_TYPE probeType = PROBE_TYPE;
  EFI_SMBIOS_TYPE missingType = 0xC1;
  ProbeLine("remove-first", Smbios->Remove(Smbios, first), first);
  ProbeLine("remove-again", Smbios->Remove(Smbios, first), first);
  ProbeGetNext(Smbios, "getnext-removed-handle", first, &probeType);
  ProbeAdd(Smbios, "add-after-remove", 1, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-explicit-0x7000", 1, 0x7000);
  ProbeAdd(Smbios, "add-after-explicit", 1, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-no-strings", 0, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-string-64", 64, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-string-65", 65, SMBIOS_HANDLE_PI_RESERVED);
  ProbeAdd(Smbios, "add-string-300", 300, SMBIOS_HANDLE_PI_RESERVED);
  ProbeGetNext(Smbios, "getnext-unknown-handle", 0x6FFF, &probeType);
  ProbeGetNext(Smbios, "getnext-missing-type", SMBIOS_HANDLE_PI_RESERVED, &missingType);
  ProbeGetNext(Smbios, "getnext-after-last", 0x7000, &probeType);
  ProbeLine("remove-unknown", Smbios->Remove(Smbios, 0x6FFF), 0x6FFF);
  ProbeLine("remove-reserved", Smbios->Remove(Smbios, SMBIOS_HANDLE_PI_RESERVED),
            SMBIOS_HANDLE_PI_RESERVED);
  CHAR8 replacement[] = "replaced";
  UINTN stringNumber = 1;
  EFI_SMBIOS_HANDLE target = second;
  ProbeLine("update-string", Smbios->UpdateString(Smbios, &target, &stringNumber, replacement), target);
  stringNumber = 2;
  ProbeLine("update-missing-string", Smbios->UpdateString(Smbios, &target, &stringNumber, replacement),
            target);
}
