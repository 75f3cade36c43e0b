// Checks that a run of the driver left the SMBIOS table sound, shared by the
// fault sweeps and the whole-driver fuzz target. Every check returns an empty
// string when it holds and a description of the first problem otherwise, so
// the same code serves gtest assertions and fuzz-target aborts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "include/smbios_entry_point.h"
#include "include/smbios_records.h"
#include "sim/dmidecode.h"
#include "sim/smbios_table.h"

namespace reliability {

// The sixteen texts of the driver's string package, by string id.
inline const char *const kDriverTexts[17] = {nullptr,
                                             "English",
                                             "MEZZANINE 0",
                                             "MEZZANINE 1",
                                             "Riser 1, slot 1",
                                             "Riser 1, slot 2",
                                             "Riser 1, slot 3",
                                             "Riser 2, slot 1",
                                             "Riser 2, slot 2",
                                             "Riser 2, slot 3",
                                             "Riser 3, slot 1",
                                             "Riser 3, slot 2",
                                             "Aspeed Video",
                                             "Intel I350",
                                             "Intel I350",
                                             "PCH Integrated SATA Controller",
                                             "PCH Integrated sSATA Controller"};

inline std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

// The strings of a stored record, or a problem when its string area is not
// one SMBIOS allows (every string non-empty, the area closed by a double NUL
// exactly at the record's end).
inline std::string RecordStrings(const std::vector<uint8_t> &bytes,
                                 std::vector<std::string> *strings) {
  strings->clear();
  if (bytes.size() < 4) return "record shorter than its header";
  size_t length = bytes[1];
  if (length < 4) return "formatted length " + std::to_string(length) + " below 4";
  if (bytes.size() < length + 2) return "no room for a string area after the formatted area";
  size_t at = length;
  if (bytes[at] == 0) {
    if (bytes[at + 1] != 0) return "string area starts with an empty string";
    at += 2;
  } else {
    for (;;) {
      size_t end = at;
      while (end < bytes.size() && bytes[end] != 0) end++;
      if (end >= bytes.size()) return "string runs past the record";
      strings->emplace_back(reinterpret_cast<const char *>(&bytes[at]), end - at);
      at = end + 1;
      if (at >= bytes.size()) return "string area lacks its final NUL";
      if (bytes[at] == 0) {
        at++;
        break;
      }
    }
  }
  if (at != bytes.size()) return "bytes stored past the string area's double NUL";
  return "";
}

// A Type 9 or Type 41 record names its one string at byte 4: 0 with an
// empty string area, or a number within the strings present.
inline std::string CheckStringReference(const std::vector<uint8_t> &bytes,
                                        const std::vector<std::string> &strings) {
  if (bytes.size() <= RECORD_DESIGNATION_OFFSET) return "";
  unsigned number = bytes[RECORD_DESIGNATION_OFFSET];
  if (number > strings.size()) {
    return "designation names string " + std::to_string(number) + " of " +
           std::to_string(strings.size());
  }
  return "";
}

// A record the driver added: every field its builders write, and one string
// from its package (or none, named 0).
inline std::string CheckDriverRecord(const sim::SmbiosRecord &record) {
  const std::vector<uint8_t> &b = record.bytes;
  std::vector<std::string> strings;
  std::string problem = RecordStrings(b, &strings);
  if (!problem.empty()) return problem;
  if ((b[2] | b[3] << 8) != record.handle) return "handle field differs from the table's handle";
  unsigned designation = b[RECORD_DESIGNATION_OFFSET];
  if (designation > 1 || strings.size() > 1 || designation != strings.size()) {
    return "designation " + std::to_string(designation) + " with " +
           std::to_string(strings.size()) + " strings";
  }
  if (!strings.empty()) {
    bool known = false;
    for (int id = 2; id <= 16; id++) known = known || strings[0] == kDriverTexts[id];
    if (!known) return "designation \"" + strings[0] + "\" is none of the driver's";
  }
  if (b[0] == SMBIOS_TYPE_SYSTEM_SLOTS) {
    if (b[1] != 0x11) return "Type 9 length " + Hex(b[1]);
    bool x8 = b[5] == SlotTypePciExpressGen3X8 && b[6] == SlotDataBusWidth8X;
    bool x16 = b[5] == SlotTypePciExpressGen3X16 && b[6] == SlotDataBusWidth16X;
    if (!x8 && !x16) return "slot type " + Hex(b[5]) + " with width " + Hex(b[6]);
    if (b[7] != SlotUsageAvailable && b[7] != SlotUsageInUse) return "usage " + Hex(b[7]);
    if (b[8] != SlotLengthLong || b[11] != 0x04 || b[12] != 0x05 || b[13] != 0 || b[14] != 0) {
      return "Type 9 fixed fields wrong";
    }
    unsigned id = b[9] | b[10] << 8;
    if (!((id >= 1 && id <= 8) || id == 17 || id == 18)) return "Slot ID " + std::to_string(id);
    if ((b[16] & 7) != 0) return "slot root port function not 0";
    return "";
  }
  if (b[0] == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
    static constexpr uint8_t kType[5] = {3, 5, 5, 9, 9};
    static constexpr uint8_t kDevFunc[5] = {0x00, 0x00, 0x01, 0xB8, 0x8D};
    if (b[1] != 0x0B) return "Type 41 length " + Hex(b[1]);
    unsigned instance = b[6];
    if (instance > 4) return "instance " + std::to_string(instance);
    if ((b[5] & 0x7F) != kType[instance]) return "device type " + Hex(b[5]);
    if (b[7] != 0 || b[8] != 0) return "segment group not 0";
    if (b[10] != kDevFunc[instance]) return "device/function " + Hex(b[10]);
    if (instance >= 3 && b[9] != 0) return "SATA bus not 0";
    return "";
  }
  return "type " + std::to_string(b[0]) + " is not one the driver writes";
}

// The SMBIOS 3.0 dump the simulator publishes: entry point, then every
// structure well formed, handles unique, closed by exactly one Type 127.
inline std::string CheckDump(const std::vector<uint8_t> &dump, size_t *structures) {
  *structures = 0;
  SMBIOS_ENTRY_POINT_30 point;
  if (dump.size() < 0x20) return "no entry point";
  std::memcpy(&point, dump.data(), sizeof(point));
  if (std::memcmp(point.AnchorString, "_SM3_", sizeof(point.AnchorString)) != 0) {
    return "no entry point";
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < point.EntryPointLength; i++) sum = static_cast<uint8_t>(sum + dump[i]);
  if (sum != 0) return "entry point checksum";
  uint64_t address = point.TableAddress;
  if (address != 0x20 || address + point.TableMaximumSize != dump.size()) {
    return "entry point table bounds";
  }
  std::set<unsigned> handles;
  size_t at = 0x20;
  bool ended = false;
  while (at < dump.size()) {
    if (ended) return "structures after the end-of-table structure";
    if (dump.size() - at < 4) return "truncated structure header";
    size_t length = dump[at + 1];
    if (length < 4 || at + length + 2 > dump.size()) return "invalid structure length";
    size_t end = at + length;
    while (end + 1 < dump.size() && !(dump[end] == 0 && dump[end + 1] == 0)) end++;
    if (end + 1 >= dump.size()) return "string area runs past the table";
    std::vector<uint8_t> bytes(dump.begin() + static_cast<long>(at),
                               dump.begin() + static_cast<long>(end + 2));
    std::vector<std::string> strings;
    std::string problem = RecordStrings(bytes, &strings);
    if (problem.empty() && (bytes[0] == 9 || bytes[0] == 41)) {
      problem = CheckStringReference(bytes, strings);
    }
    unsigned handle = bytes[2] | bytes[3] << 8;
    if (problem.empty() && !handles.insert(handle).second) problem = "duplicate handle";
    if (!problem.empty()) return "structure at handle " + Hex(handle) + ": " + problem;
    ended = bytes[0] == SMBIOS_TYPE_END_OF_TABLE;
    (*structures)++;
    at = end + 2;
  }
  if (!ended) return "no end-of-table structure";
  return "";
}

// Handles the driver's records got, in the order of adding, from the
// firmware log of the run (adds that the table refused are not counted).
inline std::vector<EFI_SMBIOS_HANDLE> AddedHandles(const sim::CallLog &log) {
  std::vector<EFI_SMBIOS_HANDLE> handles;
  for (const sim::LogEntry &entry : log.Entries()) {
    // A successful add logs the record's type, then its handle.
    if (entry.Is("Smbios.Add") && entry.status == EFI_SUCCESS && entry.valueCount == 2) {
      handles.push_back(static_cast<EFI_SMBIOS_HANDLE>(entry.values[1]));
    }
  }
  return handles;
}

inline std::vector<sim::SmbiosRecord> RecordsByHandle(const std::vector<sim::SmbiosRecord> &table,
                                                      const std::vector<EFI_SMBIOS_HANDLE> &handles,
                                                      std::string *problem) {
  std::vector<sim::SmbiosRecord> found;
  for (EFI_SMBIOS_HANDLE handle : handles) {
    bool present = false;
    for (const sim::SmbiosRecord &record : table) {
      if (record.handle == handle) {
        found.push_back(record);
        present = true;
      }
    }
    if (!present && problem->empty()) *problem = "added record " + Hex(handle) + " is gone";
  }
  return found;
}

// Nothing earlier in the table is lost or changed but Type 9 and 41 records
// that a Remove of the run took out, each replaced by a record of its type
// that this run added, unless the table refused an add of that type.
inline std::string CheckEarlierRecords(const std::vector<sim::SmbiosRecord> &before,
                                       const std::vector<sim::SmbiosRecord> &after,
                                       const std::vector<sim::SmbiosRecord> &added,
                                       const sim::CallLog &log) {
  std::set<unsigned> removed, refusedTypes;
  for (const sim::LogEntry &entry : log.Entries()) {
    if (entry.Is("Smbios.Remove") && entry.status == EFI_SUCCESS) removed.insert(unsigned(entry.values[0]));
    if (entry.Is("Smbios.Add") && entry.status != EFI_SUCCESS && entry.valueCount > 0) {
      refusedTypes.insert(unsigned(entry.values[0]));
    }
  }
  for (const sim::SmbiosRecord &earlier : before) {
    bool kept = false;
    for (const sim::SmbiosRecord &record : after) {
      kept = kept || (record.handle == earlier.handle && record.bytes == earlier.bytes);
    }
    if (kept) continue;
    uint8_t type = earlier.Type();
    std::string named = "earlier Type " + std::to_string(type) + " record " + Hex(earlier.handle);
    if (removed.count(earlier.handle) == 0) return named + " lost without being removed";
    if (type != SMBIOS_TYPE_SYSTEM_SLOTS && type != SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
      return named + " removed";
    }
    bool replaced = refusedTypes.count(type) != 0;
    for (const sim::SmbiosRecord &record : added) replaced = replaced || record.Type() == type;
    if (!replaced) return named + " purged without a replacement";
  }
  return "";
}

// dmidecode's complaints about a table, and whether it decoded every structure.
inline std::string CheckDmidecodeOutput(const std::string &output, int exitStatus,
                                        size_t structures) {
  if (exitStatus != 0) return "dmidecode exit status " + std::to_string(exitStatus);
  std::string warning = sim::DmidecodeWarning(output);
  if (!warning.empty()) return "dmidecode warns \"" + warning + "\"";
  size_t decoded = 0;
  for (size_t at = output.find("\nHandle 0x"); at != std::string::npos;
       at = output.find("\nHandle 0x", at + 1)) {
    decoded++;
  }
  if (decoded != structures) {
    return "dmidecode decoded " + std::to_string(decoded) + " structures of " +
           std::to_string(structures);
  }
  return "";
}

}  // namespace reliability
