// ReplaceRecordString and MeasureSmbiosRecord over arbitrary records in a
// 768-byte RecordBuffer, arbitrary string numbers and arbitrary strings,
// checked against a model that treats the string area as a list of strings.
//
// Input: flags, string number (1 byte, or 8 with flag 0x01), fill byte for
// the buffer past the given bytes (flag 0x02), new string length (0-127) and
// its UCS-2 characters, then the record's bytes. Flags 0x04 and 0x08 fail
// the first and second pool allocation.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "sim/firmware.h"
#include "smbios/record_strings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Buffer = std::vector<uint8_t>;

struct Measured {
  bool ok = false;
  bool tooLong = false;
  size_t size = 0;
};

// The record's size as SMBIOS defines it, bounded by the RecordBuffer.
Measured ModelMeasure(const uint8_t *b) {
  Measured m;
  size_t p = b[1];
  if (b[p] == 0) {
    if (b[p + 1] == 0) return {true, false, p + 2};
    p++;  // an empty first string
  }
  for (;;) {
    size_t count = 0;
    while (p + count < RECORD_BUFFER_SIZE && b[p + count] != 0 && count < RECORD_STRING_LIMIT) {
      count++;
    }
    if (count == RECORD_STRING_LIMIT) return {false, true, p};
    if (p + count >= RECORD_BUFFER_SIZE) return m;
    p += count + 1;
    if (p >= RECORD_BUFFER_SIZE) return m;
    if (b[p] == 0) return {true, false, p + 1};
  }
}

// The strings of a measured record; an area of two NULs is one empty string,
// as string numbering sees it.
std::vector<std::string> ModelStrings(const uint8_t *b, size_t size) {
  std::vector<std::string> strings;
  std::string current;
  for (size_t at = b[1]; at + 1 < size; at++) {
    if (b[at] == 0) {
      strings.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(b[at]);
    }
  }
  return strings;
}

Buffer Serialize(const uint8_t *b, const std::vector<std::string> &strings) {
  Buffer bytes(b, b + b[1]);
  for (const std::string &text : strings) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

struct Expected {
  EFI_STATUS status;
  Buffer record;  // the whole 768-byte buffer afterwards
};

Expected ModelReplace(const Buffer &record, uint64_t number, const std::u16string &text,
                      bool failFirst, bool failSecond) {
  Expected unchanged{EFI_INVALID_PARAMETER, record};
  size_t wide = 0;
  while (wide < text.size() && wide <= RECORD_STRING_LIMIT && text[wide] != 0) wide++;
  if (wide >= RECORD_STRING_LIMIT) return unchanged;
  Measured measured = ModelMeasure(record.data());
  if (!measured.ok) return unchanged;
  std::vector<std::string> strings = ModelStrings(record.data(), measured.size);
  size_t index = number > 1 ? number - 1 : 0;
  if (index > strings.size()) return unchanged;
  if (failFirst) return {EFI_OUT_OF_RESOURCES, record};
  std::string ascii;
  for (size_t i = 0; i < wide && (text[i] & 0xFF) != 0; i++) {
    ascii += static_cast<char>(text[i] & 0xFF);
  }
  size_t old = index < strings.size() ? strings[index].size() : 0;
  bool inPlace = ascii.size() == old;
  if (index < strings.size()) {
    strings[index] = ascii;
  } else if (!inPlace) {
    strings.push_back(ascii);
  }
  Buffer rebuilt = Serialize(record.data(), strings);
  if (!inPlace) {
    if (rebuilt.size() > RECORD_BUFFER_SIZE) return unchanged;
    if (failSecond) return {EFI_OUT_OF_RESOURCES, record};
  }
  Buffer padded = rebuilt;
  padded.resize(RECORD_BUFFER_SIZE, 0);
  Measured after = ModelMeasure(padded.data());
  FUZZ_REQUIRE(after.ok, "model: the rebuilt record does not measure");
  Buffer result = record;
  std::memcpy(result.data(), rebuilt.data(), after.size);
  return {EFI_SUCCESS, result};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Firmware &firmware = fuzz::ProcessFirmware();
  fuzz::ByteReader in(data, size);
  uint8_t flags = in.Byte();
  uint64_t number = (flags & 0x01) ? in.Word64() : in.Byte();
  uint8_t fill = (flags & 0x02) ? in.Byte() : 0;
  bool failFirst = (flags & 0x04) != 0;
  bool failSecond = (flags & 0x08) != 0;
  size_t length = in.Byte() % 128;
  std::u16string text;
  for (size_t i = 0; i < length; i++) text += static_cast<char16_t>(in.Word16());
  Buffer given = in.Bytes(RECORD_BUFFER_SIZE);

  // Exactly a RecordBuffer and exactly the string with its NUL, each a heap
  // block of its own, so a read or write past either is caught.
  std::unique_ptr<uint8_t[]> record(new uint8_t[RECORD_BUFFER_SIZE]);
  std::memset(record.get(), fill, RECORD_BUFFER_SIZE);
  if (!given.empty()) std::memcpy(record.get(), given.data(), given.size());
  std::unique_ptr<CHAR16[]> string(new CHAR16[length + 1]);
  if (length != 0) std::memcpy(string.get(), text.data(), length * sizeof(CHAR16));
  string[length] = 0;
  Buffer before(record.get(), record.get() + RECORD_BUFFER_SIZE);

  // Measuring only reads, and agrees with the model.
  UINTN measuredSize = 0;
  const VOID *start = record.get();
  EFI_STATUS measureStatus = MeasureSmbiosRecord(start, &measuredSize);
  Measured model = ModelMeasure(before.data());
  FUZZ_REQUIRE(Buffer(record.get(), record.get() + RECORD_BUFFER_SIZE) == before,
               "MeasureSmbiosRecord wrote to the record");
  FUZZ_REQUIRE(EFI_ERROR(measureStatus) != model.ok,
               "MeasureSmbiosRecord status " + std::to_string(measureStatus) + ", model " +
                   (model.ok ? "measures " + std::to_string(model.size) : "refuses"));
  FUZZ_REQUIRE(!model.ok || measuredSize == model.size,
               "MeasureSmbiosRecord size " + std::to_string(measuredSize) + ", model " +
                   std::to_string(model.size));
  FUZZ_REQUIRE(!model.tooLong || measuredSize == model.size,
               "a too-long string's offset is " + std::to_string(measuredSize) + ", not " +
                   std::to_string(model.size));

  firmware.faults.Clear();
  firmware.log.clear();
  if (failFirst) firmware.faults.FailCall("AllocatePool", 1, EFI_OUT_OF_RESOURCES);
  if (failSecond) firmware.faults.FailCall("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
  uint64_t allocationsBefore = firmware.pool.AllocationCount();

  EFI_STATUS status = ReplaceRecordString(record.get(), number, string.get());

  Buffer after(record.get(), record.get() + RECORD_BUFFER_SIZE);
  FUZZ_REQUIRE(firmware.pool.Outstanding() == 0, "leak: " + firmware.pool.LeakReport());
  FUZZ_REQUIRE(firmware.pool.Errors().empty(), "pool: " + firmware.pool.Errors().front());
  FUZZ_REQUIRE(firmware.pool.AllocationCount() - allocationsBefore <= 2,
               "more than two temporaries");
  FUZZ_REQUIRE(!EFI_ERROR(status) || after == before, "a failed replacement changed the record");

  // The model reads a record whose formatted area is at least its 4-byte header.
  if (before[1] >= sizeof(EFI_SMBIOS_TABLE_HEADER)) {
    Expected expected = ModelReplace(before, number, text, failFirst, failSecond);
    FUZZ_REQUIRE(status == expected.status,
                 "status " + std::to_string(status) + ", model " + std::to_string(expected.status));
    if (after != expected.record) {
      size_t at = 0;
      while (after[at] == expected.record[at]) at++;
      fuzz::Finding("record differs from the model at byte " + std::to_string(at) + ": got " +
                    fuzz::HexBytes(after.data(), 64) + "\nwant " +
                    fuzz::HexBytes(expected.record.data(), 64));
    }
  }
  return 0;
}
