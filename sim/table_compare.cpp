#include "sim/table_compare.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "include/smbios_records.h"
#include "sim/later_slot_fields.h"

namespace sim {

namespace {

enum class FieldKind { Byte, Word, String, DeviceFunction, EnabledBit, DeviceKind };

struct Field {
  size_t offset;
  FieldKind kind;
  const char *name;
};

// The fields the driver fills, as a reader of each type names them.
constexpr Field kType9Fields[] = {
    {0x04, FieldKind::String, "designation"},
    {0x05, FieldKind::Byte, "slot type"},
    {0x06, FieldKind::Byte, "data bus width"},
    {0x07, FieldKind::Byte, "current usage"},
    {0x08, FieldKind::Byte, "slot length"},
    {0x09, FieldKind::Word, "slot ID"},
    {0x0B, FieldKind::Byte, "characteristics 1"},
    {0x0C, FieldKind::Byte, "characteristics 2"},
    {0x0D, FieldKind::Word, "segment group"},
    {0x0F, FieldKind::Byte, "bus"},
    {0x10, FieldKind::DeviceFunction, "device/function"},
};

constexpr Field kType41Fields[] = {
    {0x04, FieldKind::String, "designation"},
    {0x05, FieldKind::DeviceKind, "device type"},
    {0x05, FieldKind::EnabledBit, "status"},
    {0x06, FieldKind::Byte, "instance"},
    {0x07, FieldKind::Word, "segment group"},
    {0x09, FieldKind::Byte, "bus"},
    {0x0A, FieldKind::DeviceFunction, "device/function"},
};

struct TypeRule {
  uint8_t type;
  size_t keyOffset;  // Slot ID or Device Type Instance
  size_t keyBytes;
  const char *keyName;
  size_t kindOffset;  // a device kind that must agree too, 0 for none
  const Field *fields;
  size_t fieldCount;
};

constexpr TypeRule kRules[] = {
    {SMBIOS_TYPE_SYSTEM_SLOTS, 0x09, 2, "slot ID", 0, kType9Fields, std::size(kType9Fields)},
    {SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION, 0x06, 1, "instance", 0x05, kType41Fields,
     std::size(kType41Fields)},
};

// A byte the record may not hold reads as absent rather than as zero.
int ByteAt(const SmbiosRecord &record, size_t offset) {
  return offset < record.Length() && offset < record.bytes.size() ? record.bytes[offset] : -1;
}

std::string StringAt(const SmbiosRecord &record, size_t offset) {
  int number = ByteAt(record, offset);
  if (number == 0) return "(none)";
  std::optional<std::string> text = record.NumberedString(number < 0 ? 0 : static_cast<size_t>(number));
  if (!text) return "(bad string number)";
  // Appended rather than prepended: g++ 12 at -O3 reports a false -Wrestrict
  // overlap for a literal put in front of a string.
  std::string quoted = "\"";
  quoted += *text;
  quoted += '"';
  return quoted;
}

std::string FieldText(const SmbiosRecord &record, const Field &field) {
  int low = ByteAt(record, field.offset);
  if (field.kind == FieldKind::String) return StringAt(record, field.offset);
  if (low < 0) return "(absent)";
  char text[32];
  switch (field.kind) {
    case FieldKind::Word: {
      int high = ByteAt(record, field.offset + 1);
      if (high < 0) return "(absent)";
      std::snprintf(text, sizeof(text), "0x%04X", low | (high << 8));
      break;
    }
    case FieldKind::DeviceFunction:
      std::snprintf(text, sizeof(text), "%02x.%x", low >> 3, low & 7);
      break;
    case FieldKind::EnabledBit:
      return (low & ONBOARD_DEVICE_ENABLED) ? "enabled" : "disabled";
    case FieldKind::DeviceKind:
      std::snprintf(text, sizeof(text), "0x%02X", low & 0x7F);
      break;
    default:
      std::snprintf(text, sizeof(text), "0x%02X", low);
      break;
  }
  return text;
}

std::string HexByte(int value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

// The later layouts' Type 9 fields a record holds, named and written out.
std::vector<std::pair<std::string, std::string>> LaterFieldTexts(const SmbiosRecord &record) {
  LaterSlotFields later = ReadLaterSlotFields(record);
  std::vector<std::pair<std::string, std::string>> texts;
  if (!later.dataBusWidth) return texts;
  texts.emplace_back("data bus width (base)", std::to_string(*later.dataBusWidth));
  texts.emplace_back("peer groups", std::to_string(*later.peerCount));
  for (size_t i = 0; i < later.peers.size(); i++) {
    const PeerGroup &peer = later.peers[i];
    char text[48];
    std::snprintf(text, sizeof(text), "%04x:%02x:%02x.%x width %u", peer.segment, peer.bus, peer.device,
                  peer.function, peer.width);
    texts.emplace_back("peer " + std::to_string(i + 1), text);
  }
  if (later.physicalWidth) {
    texts.emplace_back("slot information", HexByte(*later.slotInformation));
    texts.emplace_back("physical width", HexByte(*later.physicalWidth));
    texts.emplace_back("pitch", std::to_string(*later.pitch));
  }
  if (later.height) texts.emplace_back("height", HexByte(*later.height));
  return texts;
}

unsigned KeyOf(const SmbiosRecord &record, const TypeRule &rule) {
  unsigned key = 0;
  for (size_t i = rule.keyBytes; i > 0; i--) {
    int byte = ByteAt(record, rule.keyOffset + i - 1);
    key = (key << 8) | static_cast<unsigned>(byte < 0 ? 0 : byte);
  }
  return key;
}

// Most fields agree; their bytes say so without writing them out.
bool SameBytes(const SmbiosRecord &a, const SmbiosRecord &b, const Field &field) {
  size_t bytes = field.kind == FieldKind::Word ? 2 : 1;
  for (size_t i = 0; i < bytes; i++) {
    if (ByteAt(a, field.offset + i) != ByteAt(b, field.offset + i)) return false;
  }
  return true;
}

std::string Name(const SmbiosRecord &record, const TypeRule &rule) {
  return "Type " + std::to_string(rule.type) + " " + rule.keyName + " " +
         std::to_string(KeyOf(record, rule)) + " " + StringAt(record, RECORD_DESIGNATION_OFFSET);
}

// Each later field either record has, "(absent)" where the other's length stops short of it.
void CompareLaterSlotFields(const SmbiosRecord &want, const SmbiosRecord &got, const TypeRule &rule,
                            std::vector<std::string> &out) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  Fields mine = LaterFieldTexts(want), theirs = LaterFieldTexts(got);
  auto valueOf = [](const Fields &fields, const std::string &name) {
    for (const auto &[field, value] : fields) {
      if (field == name) return value;
    }
    return std::string("(absent)");
  };
  std::vector<std::string> names;
  for (const Fields *fields : {&mine, &theirs}) {
    for (const auto &field : *fields) {
      if (std::find(names.begin(), names.end(), field.first) == names.end()) names.push_back(field.first);
    }
  }
  for (const std::string &field : names) {
    if (valueOf(mine, field) != valueOf(theirs, field)) {
      out.push_back(Name(want, rule) + ": " + field + ": table " + valueOf(theirs, field) + ", driver " +
                    valueOf(mine, field));
    }
  }
}

void CompareFields(const SmbiosRecord &want, const SmbiosRecord &got, const TypeRule &rule,
                   std::vector<std::string> &out) {
  if (want.Length() != got.Length()) {
    out.push_back(Name(want, rule) + ": length: table " + std::to_string(got.Length()) +
                  ", driver " + std::to_string(want.Length()));
  }
  for (size_t i = 0; i < rule.fieldCount; i++) {
    const Field &field = rule.fields[i];
    if (field.kind != FieldKind::String && SameBytes(want, got, field)) continue;
    std::string mine = FieldText(want, field);
    std::string theirs = FieldText(got, field);
    if (mine != theirs) {
      out.push_back(Name(want, rule) + ": " + field.name + ": table " + theirs + ", driver " + mine);
    }
  }
  if (rule.type == SMBIOS_TYPE_SYSTEM_SLOTS) CompareLaterSlotFields(want, got, rule, out);
  size_t mine = want.Strings().size(), theirs = got.Strings().size();
  if (mine != theirs) {
    out.push_back(Name(want, rule) + ": strings: table has " + std::to_string(theirs) + ", driver " +
                  std::to_string(mine));
  }
}

// A record of one type, with what pairing looks at worked out once.
struct Entry {
  const SmbiosRecord *record;
  unsigned key;
  int kind;
  std::string designation;
  bool paired;
};

std::vector<Entry> OfType(const std::vector<SmbiosRecord> &records, const TypeRule &rule) {
  std::vector<Entry> found;
  for (const SmbiosRecord &record : records) {
    if (record.Type() != rule.type) continue;
    int kind = rule.kindOffset == 0 ? 0 : ByteAt(record, rule.kindOffset) & 0x7F;
    found.push_back({&record, KeyOf(record, rule), kind, StringAt(record, RECORD_DESIGNATION_OFFSET), false});
  }
  return found;
}

// Pairs expected with actual records: same ID and designation first, then
// same ID alone, each in table order.
void Pair(std::vector<Entry> &want, std::vector<Entry> &got, const TypeRule &rule, bool byDesignation,
          std::vector<std::string> &out) {
  std::multimap<std::pair<unsigned, int>, Entry *> byId;
  for (Entry &theirs : got) {
    if (!theirs.paired) byId.emplace(std::make_pair(theirs.key, theirs.kind), &theirs);
  }
  for (Entry &mine : want) {
    if (mine.paired) continue;
    auto [first, last] = byId.equal_range(std::make_pair(mine.key, mine.kind));
    for (auto it = first; it != last; ++it) {
      Entry &theirs = *it->second;
      if (byDesignation && mine.designation != theirs.designation) continue;
      CompareFields(*mine.record, *theirs.record, rule, out);
      mine.paired = theirs.paired = true;
      byId.erase(it);
      break;
    }
  }
}

}  // namespace

std::vector<SmbiosRecord> InventoryRecords(const std::vector<SmbiosRecord> &records) {
  std::vector<SmbiosRecord> found;
  for (const SmbiosRecord &record : records) {
    if (record.Type() == SMBIOS_TYPE_SYSTEM_SLOTS || record.Type() == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
      found.push_back(record);
    }
  }
  return found;
}

std::vector<std::string> CompareInventory(const std::vector<SmbiosRecord> &expected,
                                          const std::vector<SmbiosRecord> &actual) {
  std::vector<std::string> out;
  for (const TypeRule &rule : kRules) {
    std::vector<Entry> want = OfType(expected, rule);
    std::vector<Entry> got = OfType(actual, rule);
    Pair(want, got, rule, true, out);
    Pair(want, got, rule, false, out);
    for (const Entry &mine : want) {
      if (!mine.paired) out.push_back(Name(*mine.record, rule) + ": missing from the table");
    }
    for (const Entry &theirs : got) {
      if (!theirs.paired) {
        out.push_back(Name(*theirs.record, rule) + ": in the table, not written by the driver");
      }
    }
  }
  return out;
}

}  // namespace sim
