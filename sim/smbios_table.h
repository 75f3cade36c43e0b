// The firmware's SMBIOS table behind EFI_SMBIOS_PROTOCOL (PI 1.8, volume 5,
// chapter 6), and its publication as an SMBIOS 3.0 table that dmidecode reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "include/pi_smbios.h"
#include "sim/firmware.h"

namespace sim {

// The fault-plan name of a GetNext call that is about to give a record: failing
// it from the (N+1)-th on makes GetNext fail once it has given N records.
inline constexpr char kGetNextRecord[] = "Smbios.GetNext:record";

// Where a dump's structure table starts, after the entry point at 0.
inline constexpr size_t kDumpTableOffset = 0x20;

struct SmbiosRecord {
  EFI_SMBIOS_HANDLE handle;
  std::vector<uint8_t> bytes;  // formatted area and string area, as stored
  EFI_HANDLE producer;
  uint64_t serial;  // order of adding over the table's life; handles are reused, serials never

  uint8_t Type() const { return bytes[0]; }
  uint8_t Length() const { return bytes[1]; }
  std::vector<std::string> Strings() const;
  // String `number` (from 1); none when the number is 0 or past the last string.
  std::optional<std::string> NumberedString(size_t number) const;
};

// Measures a record the way the SMBIOS table does: the formatted area, then
// strings up to the double NUL. 0 when the record is malformed or no double
// NUL lies within `limit` bytes.
size_t MeasureRecord(const uint8_t *record, size_t limit);

// The bytes' sum modulo 256; an entry point's checksum byte makes its own 0.
uint8_t ByteSum(const uint8_t *bytes, size_t length);

class SmbiosTable {
 public:
  // The largest structure Add accepts; far beyond any real record.
  static constexpr size_t kMaxRecordSize = 0x1000;

  // Installs the protocol on a handle of its own unless told not to.
  explicit SmbiosTable(Firmware &firmware, bool install = true);
  ~SmbiosTable();

  EFI_SMBIOS_PROTOCOL *Protocol() { return &wrapper_.protocol; }
  void Install();

  // Adds a record as an earlier producer would, through the protocol's own checks.
  EFI_STATUS AddRecord(const std::vector<uint8_t> &bytes,
                       EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED);

  const std::vector<SmbiosRecord> &Records() const { return records_; }
  // How many records were ever added; records added later have a larger serial.
  uint64_t AddsSoFar() const { return addsSoFar_; }
  std::vector<SmbiosRecord> RecordsOfType(uint8_t type) const;

  // A broken firmware whose GetNext starts again at the first match instead of
  // reporting the end (it reports the end only when nothing matches at all).
  void SetGetNextNeverEnds(bool never) { getNextNeverEnds_ = never; }

  // Publication: the structure table (records in order, then Type 127) and an
  // SMBIOS 3.0 64-bit entry point naming it at tableAddress.
  std::vector<uint8_t> StructureTable() const;
  std::vector<uint8_t> EntryPoint(uint64_t tableAddress) const;
  // The binary form dmidecode --from-dump reads: entry point at 0, table at 0x20.
  std::vector<uint8_t> DumpImage() const;
  bool WriteDump(const std::string &path) const;

  // Protocol members.
  EFI_STATUS Add(EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle, EFI_SMBIOS_TABLE_HEADER *record);
  EFI_STATUS UpdateString(EFI_SMBIOS_HANDLE *handle, UINTN *stringNumber, CHAR8 *string);
  EFI_STATUS Remove(EFI_SMBIOS_HANDLE handle);
  EFI_STATUS GetNext(EFI_SMBIOS_HANDLE *handle, EFI_SMBIOS_TYPE *type,
                     EFI_SMBIOS_TABLE_HEADER **record, EFI_HANDLE *producer);

 // The protocol structure handed to the driver, with a way back to its table.
  struct Wrapper {
    EFI_SMBIOS_PROTOCOL protocol;
    SmbiosTable *self;
  };

 private:
  static std::vector<uint8_t> EntryPointFor(size_t tableSize, uint64_t tableAddress);
  bool HandleInUse(EFI_SMBIOS_HANDLE handle) const;
  void MarkHandle(EFI_SMBIOS_HANDLE handle, bool inUse);
  EFI_SMBIOS_HANDLE FreshHandle() const;

  Firmware &firmware_;
  Wrapper wrapper_{};
  EFI_HANDLE installedOn_ = nullptr;
  std::vector<SmbiosRecord> records_;
  // One bit per handle, so finding the smallest free one does not walk the table.
  std::array<uint64_t, 65536 / 64> handlesInUse_ = {};
  bool getNextNeverEnds_ = false;
  size_t lastGiven_ = 0;  // index of the record GetNext gave last
  uint64_t addsSoFar_ = 0;
};

}  // namespace sim
