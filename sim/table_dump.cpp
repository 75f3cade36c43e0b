#include "sim/table_dump.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "include/smbios_entry_point.h"

namespace sim {

namespace {

// Where the two entry points keep what the reader needs.
struct EntryPointLayout {
  const char *anchor;
  size_t anchorSize;
  size_t lengthOffset;    // the entry point's own length
  size_t minimumLength;
  size_t versionOffset;   // major, then minor
  size_t tableSizeOffset;
  size_t tableSizeBytes;  // 2 for 2.x's exact length, 4 for 3.0's maximum
  size_t addressOffset;
  size_t addressBytes;
};

using Ep3 = SMBIOS_ENTRY_POINT_30;
using Ep2 = SMBIOS_ENTRY_POINT_21;
constexpr EntryPointLayout kSmbios3 = {
    .anchor = "_SM3_",
    .anchorSize = sizeof(Ep3::AnchorString),
    .lengthOffset = OFFSET_OF(Ep3, EntryPointLength),
    .minimumLength = sizeof(Ep3),
    .versionOffset = OFFSET_OF(Ep3, MajorVersion),
    .tableSizeOffset = OFFSET_OF(Ep3, TableMaximumSize),
    .tableSizeBytes = sizeof(Ep3::TableMaximumSize),
    .addressOffset = OFFSET_OF(Ep3, TableAddress),
    .addressBytes = sizeof(Ep3::TableAddress),
};
constexpr EntryPointLayout kSmbios2 = {
    .anchor = "_SM_",
    .anchorSize = sizeof(Ep2::AnchorString),
    .lengthOffset = OFFSET_OF(Ep2, EntryPointLength),
    // 2.1 firmware may give 0x1E: the length without the BCD revision byte.
    .minimumLength = OFFSET_OF(Ep2, BcdRevision),
    .versionOffset = OFFSET_OF(Ep2, MajorVersion),
    .tableSizeOffset = OFFSET_OF(Ep2, TableLength),
    .tableSizeBytes = sizeof(Ep2::TableLength),
    .addressOffset = OFFSET_OF(Ep2, TableAddress),
    .addressBytes = sizeof(Ep2::TableAddress),
};
// 2.x's intermediate part: "_DMI_" and its own checksum.
constexpr size_t kIntermediateOffset = OFFSET_OF(Ep2, IntermediateAnchor);
constexpr size_t kStructureCountOffset = OFFSET_OF(Ep2, NumberOfStructures);
constexpr uint8_t kEndOfTable = 127;

uint64_t ReadLittle(const uint8_t *bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i > 0; i--) value = (value << 8) | bytes[i - 1];
  return value;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

const EntryPointLayout *IdentifyEntryPoint(const uint8_t *bytes, size_t size) {
  for (const EntryPointLayout *layout : {&kSmbios3, &kSmbios2}) {
    if (size >= layout->anchorSize && std::memcmp(bytes, layout->anchor, layout->anchorSize) == 0) {
      return layout;
    }
  }
  return nullptr;
}

bool CheckEntryPoint(const EntryPointLayout &layout, const uint8_t *bytes, std::string &error) {
  size_t length = bytes[layout.lengthOffset];
  if (length < layout.minimumLength || length > kDumpTableOffset) {
    error = std::string(layout.anchor) + " entry point length " + Hex(length) + " is impossible";
    return false;
  }
  if (ByteSum(bytes, length) != 0) {
    error = std::string(layout.anchor) + " entry point checksum is wrong";
    return false;
  }
  if (&layout == &kSmbios2 &&
      (std::memcmp(bytes + kIntermediateOffset, "_DMI_", sizeof(Ep2::IntermediateAnchor)) != 0 ||
       ByteSum(bytes + kIntermediateOffset, SMBIOS_21_INTERMEDIATE_LENGTH) != 0)) {
    error = "_SM_ entry point's _DMI_ part is missing or its checksum is wrong";
    return false;
  }
  uint64_t address = ReadLittle(bytes + layout.addressOffset, layout.addressBytes);
  if (address != kDumpTableOffset) {
    error = "entry point places the table at " + Hex(address) +
            ", not 0x20: not a file written by dmidecode --dump-bin";
    return false;
  }
  return true;
}

// Splits the table into structures. 2.x gives the exact length and count;
// 3.0 gives only a maximum, so there the table ends at the end-of-table
// structure, which must lie within the bytes the file holds.
bool ReadStructures(const uint8_t *table, size_t available, size_t count, bool exactLength,
                    TableDump &dump, std::string &error) {
  size_t at = 0;
  while (at < available && dump.records.size() < count) {
    size_t index = dump.records.size();
    size_t size = MeasureRecord(table + at, available - at);
    if (size == 0) {
      error = "structure " + std::to_string(index) + " (at table offset " + Hex(at) +
              ") has no end within the table: truncated or malformed";
      return false;
    }
    SmbiosRecord record{static_cast<EFI_SMBIOS_HANDLE>(ReadLittle(table + at + 2, 2)),
                        std::vector<uint8_t>(table + at, table + at + size), nullptr, index};
    dump.records.push_back(std::move(record));
    at += size;
    if (dump.records.back().Type() == kEndOfTable) return true;
  }
  if (exactLength) return true;
  error = "table ends without an end-of-table structure (Type 127): truncated";
  return false;
}

}  // namespace

bool ReadTableDump(const uint8_t *bytes, size_t size, TableDump &dump, std::string &error) {
  dump = TableDump{};
  const EntryPointLayout *layout = IdentifyEntryPoint(bytes, size);
  if (layout == nullptr) {
    error = "no _SM_ or _SM3_ entry point at offset 0: not a dmidecode --dump-bin file";
    return false;
  }
  if (size < kDumpTableOffset) {
    error = "file ends inside the entry point (" + std::to_string(size) + " bytes): truncated";
    return false;
  }
  if (!CheckEntryPoint(*layout, bytes, error)) return false;
  dump.smbios3 = layout == &kSmbios3;
  dump.majorVersion = bytes[layout->versionOffset];
  dump.minorVersion = bytes[layout->versionOffset + 1];
  size_t tableSize = ReadLittle(bytes + layout->tableSizeOffset, layout->tableSizeBytes);
  size_t held = size - kDumpTableOffset;
  if (!dump.smbios3 && held < tableSize) {
    error = "entry point says the table is " + std::to_string(tableSize) + " bytes, the file holds " +
            std::to_string(held) + ": truncated";
    return false;
  }
  size_t count = dump.smbios3 ? SIZE_MAX
                              : ReadLittle(bytes + kStructureCountOffset,
                                           sizeof(Ep2::NumberOfStructures));
  size_t available = tableSize < held ? tableSize : held;
  return ReadStructures(bytes + kDumpTableOffset, available, count, !dump.smbios3, dump, error);
}

bool LoadTableDump(const std::string &path, TableDump &dump, std::string &error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be read";
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = path + ": cannot be read";
    return false;
  }
  if (!ReadTableDump(bytes.data(), bytes.size(), dump, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace sim
