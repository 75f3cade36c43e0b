#include "sim/smbios_table.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "include/guids.h"
#include "include/smbios_entry_point.h"
#include "include/smbios_records.h"
#include "sim/status_names.h"

namespace sim {

namespace {

SmbiosTable &Self(EFI_SMBIOS_PROTOCOL *This) {
  return *reinterpret_cast<SmbiosTable::Wrapper *>(This)->self;
}

EFI_STATUS EFIAPI AddEntry(EFI_SMBIOS_PROTOCOL *This, EFI_HANDLE producer,
                           EFI_SMBIOS_HANDLE *handle, EFI_SMBIOS_TABLE_HEADER *record) {
  return Self(This).Add(producer, handle, record);
}
EFI_STATUS EFIAPI UpdateStringEntry(EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *handle,
                                    UINTN *stringNumber, CHAR8 *string) {
  return Self(This).UpdateString(handle, stringNumber, string);
}
EFI_STATUS EFIAPI RemoveEntry(EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE handle) {
  return Self(This).Remove(handle);
}
EFI_STATUS EFIAPI GetNextEntry(EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *handle,
                               EFI_SMBIOS_TYPE *type, EFI_SMBIOS_TABLE_HEADER **record,
                               EFI_HANDLE *producer) {
  return Self(This).GetNext(handle, type, record, producer);
}

}  // namespace

uint8_t ByteSum(const uint8_t *bytes, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; i++) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  return sum;
}

std::vector<std::string> SmbiosRecord::Strings() const {
  std::vector<std::string> strings;
  size_t at = Length();
  if (at + 1 < bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0) {
    return strings;
  }
  while (at < bytes.size() && bytes[at] != 0) {
    std::string text(reinterpret_cast<const char *>(&bytes[at]));
    strings.push_back(text);
    at += text.size() + 1;
  }
  return strings;
}

std::optional<std::string> SmbiosRecord::NumberedString(size_t number) const {
  std::vector<std::string> strings = Strings();
  if (number == 0 || number > strings.size()) {
    return std::nullopt;
  }
  return strings[number - 1];
}

size_t MeasureRecord(const uint8_t *record, size_t limit) {
  if (limit < sizeof(EFI_SMBIOS_TABLE_HEADER) + 2) {
    return 0;
  }
  size_t formatted = record[1];
  if (formatted < sizeof(EFI_SMBIOS_TABLE_HEADER)) {
    return 0;
  }
  for (size_t at = formatted; at + 1 < limit; at++) {
    if (record[at] == 0 && record[at + 1] == 0) {
      return at + 2;
    }
  }
  return 0;
}

SmbiosTable::SmbiosTable(Firmware &firmware, bool install) : firmware_(firmware) {
  wrapper_.protocol.Add = &AddEntry;
  wrapper_.protocol.UpdateString = &UpdateStringEntry;
  wrapper_.protocol.Remove = &RemoveEntry;
  wrapper_.protocol.GetNext = &GetNextEntry;
  wrapper_.protocol.MajorVersion = 3;
  wrapper_.protocol.MinorVersion = 0;
  wrapper_.self = this;
  if (install) {
    Install();
  }
}

SmbiosTable::~SmbiosTable() {
  if (installedOn_ != nullptr) {
    firmware_.UninstallProtocol(installedOn_, gEfiSmbiosProtocolGuid);
  }
}

void SmbiosTable::Install() {
  if (installedOn_ == nullptr) {
    installedOn_ = firmware_.InstallProtocol(gEfiSmbiosProtocolGuid, &wrapper_.protocol);
  }
}

bool SmbiosTable::HandleInUse(EFI_SMBIOS_HANDLE handle) const {
  return (handlesInUse_[handle / 64] >> (handle % 64) & 1) != 0;
}

void SmbiosTable::MarkHandle(EFI_SMBIOS_HANDLE handle, bool inUse) {
  uint64_t bit = uint64_t{1} << (handle % 64);
  handlesInUse_[handle / 64] = inUse ? handlesInUse_[handle / 64] | bit
                                     : handlesInUse_[handle / 64] & ~bit;
}

EFI_SMBIOS_HANDLE SmbiosTable::FreshHandle() const {
  // The smallest handle not in use, as the reference SMBIOS driver assigns them.
  for (size_t word = 0; word < handlesInUse_.size(); word++) {
    if (handlesInUse_[word] != ~uint64_t{0}) {
      size_t candidate = word * 64 + static_cast<size_t>(std::countr_one(handlesInUse_[word]));
      return candidate < SMBIOS_HANDLE_PI_RESERVED ? static_cast<EFI_SMBIOS_HANDLE>(candidate)
                                                   : SMBIOS_HANDLE_PI_RESERVED;
    }
  }
  return SMBIOS_HANDLE_PI_RESERVED;
}

EFI_STATUS SmbiosTable::Add(EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                            EFI_SMBIOS_TABLE_HEADER *record) {
  // "Smbios.Add(type=9)<detail> -> <status>"; the detail's own values follow the type.
  auto finish = [&](EFI_STATUS status, const char *detail) -> LogEntry & {
    LogEntry &entry = firmware_.log.Add("Smbios.Add", detail).Status(status);
    if (record != nullptr) entry.Value(record->Type);
    return entry;
  };
  if (auto fault = firmware_.faults.Check("Smbios.Add")) {
    finish(*fault, record ? "(type={d}) (injected) -> {s}" : "(type=null) (injected) -> {s}");
    return *fault;
  }
  if (handle == nullptr || record == nullptr) {
    finish(EFI_INVALID_PARAMETER, record ? "(type={d}) -> {s}" : "(type=null) -> {s}");
    return EFI_INVALID_PARAMETER;
  }
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(record);
  size_t size = MeasureRecord(bytes, kMaxRecordSize);
  if (size == 0) {
    finish(EFI_INVALID_PARAMETER, "(type={d}) malformed -> {s}");
    return EFI_INVALID_PARAMETER;
  }
  EFI_SMBIOS_HANDLE assigned = *handle;
  if (assigned == SMBIOS_HANDLE_PI_RESERVED) {
    assigned = FreshHandle();
    if (assigned == SMBIOS_HANDLE_PI_RESERVED) {
      finish(EFI_OUT_OF_RESOURCES, "(type={d}) table full -> {s}");
      return EFI_OUT_OF_RESOURCES;
    }
  } else if (HandleInUse(assigned)) {
    finish(EFI_ALREADY_STARTED, "(type={d}) handle 0x{x4} in use -> {s}").Value(assigned);
    return EFI_ALREADY_STARTED;
  }
  SmbiosRecord stored{assigned, std::vector<uint8_t>(bytes, bytes + size), producer, ++addsSoFar_};
  // The table's copy carries the handle it was given.
  stored.bytes[2] = static_cast<uint8_t>(assigned & 0xFF);
  stored.bytes[3] = static_cast<uint8_t>(assigned >> 8);
  records_.push_back(std::move(stored));
  MarkHandle(assigned, true);
  *handle = assigned;
  finish(EFI_SUCCESS, "(type={d}) handle 0x{x4} -> {s}").Value(assigned);
  return EFI_SUCCESS;
}

EFI_STATUS SmbiosTable::UpdateString(EFI_SMBIOS_HANDLE *handle, UINTN *stringNumber,
                                     CHAR8 *string) {
  auto finish = [&](EFI_STATUS status) {
    firmware_.log.Add("Smbios.UpdateString", " -> {s}").Status(status);
    return status;
  };
  if (handle == nullptr || stringNumber == nullptr || string == nullptr) {
    return finish(EFI_INVALID_PARAMETER);
  }
  auto record = std::find_if(records_.begin(), records_.end(),
                             [&](const SmbiosRecord &r) { return r.handle == *handle; });
  if (record == records_.end()) {
    return finish(EFI_INVALID_PARAMETER);
  }
  // Locate string number N in the string area; numbers the record lacks are not found.
  std::vector<uint8_t> &bytes = record->bytes;
  size_t start = record->Length();
  bool noStrings = bytes[start] == 0 && bytes[start + 1] == 0;
  for (UINTN n = 1; !noStrings && n <= *stringNumber && bytes[start] != 0; n++) {
    size_t end = start;
    while (bytes[end] != 0) end++;
    if (n == *stringNumber) {
      std::string text(string);
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes.begin() + static_cast<std::ptrdiff_t>(end));
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(start), text.begin(), text.end());
      return finish(EFI_SUCCESS);
    }
    start = end + 1;
  }
  return finish(EFI_NOT_FOUND);
}

EFI_STATUS SmbiosTable::Remove(EFI_SMBIOS_HANDLE handle) {
  if (auto fault = firmware_.faults.Check("Smbios.Remove")) {
    firmware_.log.Add("Smbios.Remove", "(0x{x4}) -> {s} (injected)").Value(handle).Status(*fault);
    return *fault;
  }
  // PI: a handle that does not exist is invalid.
  EFI_STATUS status = EFI_INVALID_PARAMETER;
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    if (it->handle == handle) {
      records_.erase(it);
      MarkHandle(handle, false);
      status = EFI_SUCCESS;
      break;
    }
  }
  firmware_.log.Add("Smbios.Remove", "(0x{x4}) -> {s}").Value(handle).Status(status);
  return status;
}

EFI_STATUS SmbiosTable::GetNext(EFI_SMBIOS_HANDLE *handle, EFI_SMBIOS_TYPE *type,
                                EFI_SMBIOS_TABLE_HEADER **record, EFI_HANDLE *producer) {
  // "Smbios.GetNext(type=9) -> <outcome>", the type (if any) first among the values.
  auto logged = [&](const char *typed, const char *any) -> LogEntry & {
    LogEntry &entry = firmware_.log.Add("Smbios.GetNext", type ? typed : any);
    if (type != nullptr) entry.Value(*type);
    return entry;
  };
  if (handle == nullptr) {
    logged("(type={d}) -> {s}", "(type=any) -> {s}").Status(EFI_INVALID_PARAMETER);
    return EFI_INVALID_PARAMETER;
  }
  if (auto fault = firmware_.faults.Check("Smbios.GetNext")) {
    logged("(type={d}) -> {s} (injected)", "(type=any) -> {s} (injected)").Status(*fault);
    return *fault;
  }
  size_t start = 0;
  if (*handle != SMBIOS_HANDLE_PI_RESERVED) {
    start = records_.size();
    // A walk asks for what follows the record it was just given: look there first.
    bool resumed = lastGiven_ < records_.size() && records_[lastGiven_].handle == *handle;
    for (size_t i = resumed ? lastGiven_ : 0; i < records_.size(); i++) {
      if (records_[i].handle == *handle) {
        start = i + 1;
        break;
      }
    }
  }
  auto matches = [&](const SmbiosRecord &candidate) {
    return type == nullptr || candidate.Type() == *type;
  };
  size_t passes = getNextNeverEnds_ ? 2 : 1;
  for (size_t pass = 0; pass < passes; pass++) {
    for (size_t i = pass == 0 ? start : 0; i < records_.size(); i++) {
      if (matches(records_[i])) {
        if (auto fault = firmware_.faults.Check(kGetNextRecord)) {
          logged("(type={d}) -> {s} (injected)", "(type=any) -> {s} (injected)").Status(*fault);
          return *fault;
        }
        *handle = records_[i].handle;
        lastGiven_ = i;
        if (record != nullptr) {
          *record = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(records_[i].bytes.data());
        }
        if (producer != nullptr) {
          *producer = records_[i].producer;
        }
        logged("(type={d}) -> 0x{x4}", "(type=any) -> 0x{x4}").Value(*handle);
        return EFI_SUCCESS;
      }
    }
  }
  *handle = SMBIOS_HANDLE_PI_RESERVED;
  logged("(type={d}) -> end", "(type=any) -> end").Status(EFI_NOT_FOUND);
  return EFI_NOT_FOUND;
}

EFI_STATUS SmbiosTable::AddRecord(const std::vector<uint8_t> &bytes, EFI_SMBIOS_HANDLE handle) {
  std::vector<uint8_t> copy = bytes;
  copy.resize(copy.size() + 2, 0);  // Add never reads past the double NUL of a well-formed record
  return Add(nullptr, &handle, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(copy.data()));
}

std::vector<SmbiosRecord> SmbiosTable::RecordsOfType(uint8_t type) const {
  std::vector<SmbiosRecord> found;
  for (const SmbiosRecord &record : records_) {
    if (record.Type() == type) {
      found.push_back(record);
    }
  }
  return found;
}

std::vector<uint8_t> SmbiosTable::StructureTable() const {
  std::vector<uint8_t> table;
  for (const SmbiosRecord &record : records_) {
    table.insert(table.end(), record.bytes.begin(), record.bytes.end());
  }
  // The reference firmware gives the end-of-table structure this fixed handle.
  constexpr EFI_SMBIOS_HANDLE endHandle = 0xFEFF;
  const uint8_t endOfTable[] = {SMBIOS_TYPE_END_OF_TABLE, 4, static_cast<uint8_t>(endHandle & 0xFF),
                                static_cast<uint8_t>(endHandle >> 8), 0, 0};
  table.insert(table.end(), std::begin(endOfTable), std::end(endOfTable));
  return table;
}

std::vector<uint8_t> SmbiosTable::EntryPoint(uint64_t tableAddress) const {
  return EntryPointFor(StructureTable().size(), tableAddress);
}

std::vector<uint8_t> SmbiosTable::EntryPointFor(size_t tableSize, uint64_t tableAddress) {
  // SMBIOS 3.0 64-bit entry point (SMBIOS 3.x, 5.2.2).
  SMBIOS_ENTRY_POINT_30 point = {};
  std::memcpy(point.AnchorString, "_SM3_", sizeof(point.AnchorString));
  point.EntryPointLength = sizeof(point);
  point.MajorVersion = 3;
  point.MinorVersion = 0;
  point.DocRev = 0;
  point.EntryPointRevision = 1;  // SMBIOS 3.0
  point.TableMaximumSize = static_cast<UINT32>(tableSize);
  point.TableAddress = tableAddress;
  const auto *bytes = reinterpret_cast<const uint8_t *>(&point);
  point.EntryPointChecksum = static_cast<uint8_t>(0x100 - ByteSum(bytes, sizeof(point)));
  return std::vector<uint8_t>(bytes, bytes + sizeof(point));
}

std::vector<uint8_t> SmbiosTable::DumpImage() const {
  std::vector<uint8_t> table = StructureTable();
  std::vector<uint8_t> image = EntryPointFor(table.size(), kDumpTableOffset);
  image.resize(kDumpTableOffset, 0);
  image.insert(image.end(), table.begin(), table.end());
  return image;
}

bool SmbiosTable::WriteDump(const std::string &path) const {
  std::vector<uint8_t> image = DumpImage();
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace sim
