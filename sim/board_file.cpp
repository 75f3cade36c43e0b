// Board files: JSON, numbers as JSON numbers or "0x" strings.
#include <limits>

#include "include/smbios_records.h"
#include "sim/board.h"
#include "sim/json_fields.h"

namespace sim {

namespace {

using namespace json_fields;

// Straps are keyed by the platform's riser position names.
void ParseStraps(const json &straps, Board &board) {
  RequireObject(straps, "straps");
  std::span<const PlatformRiserPosition> positions = BuiltInPlatform().risers;
  for (auto it = straps.begin(); it != straps.end(); ++it) {
    size_t position = 0;
    while (position < positions.size() && it.key() != positions[position].name) position++;
    if (position == positions.size()) Fail(Keyed("straps", it.key()), "unknown field");
    board.riserIds[position] =
        Byte(it.value(), Keyed("straps", it.key()), positions[position].Identifiers() - 1);
  }
}

void ParsePads(const json &pads, Board &board) {
  RequireArray(pads, "pads");
  for (size_t i = 0; i < pads.size(); i++) {
    std::string field = Indexed("pads", i);
    RequireObject(pads[i], field);
    RejectUnknownKeys(pads[i], field, {"pad", "level", "owner"});
    PadSetting pad{};
    pad.pad = static_cast<uint32_t>(Number(Member(pads[i], "pad", field), field + ".pad", 0xFFFFFFFF));
    if (pads[i].contains("level")) {
      pad.level = static_cast<uint32_t>(Number(pads[i]["level"], field + ".level", 1));
    }
    pad.owner = pads[i].contains("owner") ? Byte(pads[i]["owner"], field + ".owner", 3) : 0;
    board.pads.push_back(pad);
  }
}

void ParseSockets(const json &sockets, Board &board) {
  RequireArray(sockets, "sockets");
  size_t count = BuiltInPlatform().sockets.size();
  if (sockets.size() != count) {
    Fail("sockets", "must hold " + std::to_string(count) + " bus-number word" +
                        (count == 1 ? ", socket 0's" : "s, socket 0 to socket " + std::to_string(count - 1)));
  }
  for (size_t i = 0; i < count; i++) {
    board.sockets[i] = static_cast<uint32_t>(Number(sockets[i], Indexed("sockets", i), 0xFFFFFFFF));
  }
}

void ParsePlatformName(const json &value, Board &board) {
  const std::string &name = Text(value, "platform");
  if (name != BuiltInPlatform().name) {
    Fail("platform", json(name).dump() + " is not the platform described (" +
                         std::string(BuiltInPlatform().name) + ", " + BuiltInPlatformSource() + ")");
  }
  board.platform = name;
}

void ParseBridges(const json &bridges, Board &board) {
  RequireArray(bridges, "bridges");
  for (size_t i = 0; i < bridges.size(); i++) {
    std::string field = Indexed("bridges", i);
    RequireObject(bridges[i], field);
    RejectUnknownKeys(bridges[i], field, {"bus", "device", "secondary"});
    BridgeSetting bridge{};
    bridge.bus = Byte(Member(bridges[i], "bus", field), field + ".bus");
    bridge.device = Byte(Member(bridges[i], "device", field), field + ".device", 31);
    bridge.secondary = Byte(Member(bridges[i], "secondary", field), field + ".secondary");
    board.bridges.push_back(bridge);
  }
}

void ParseDevices(const json &devices, Board &board) {
  RequireArray(devices, "devices");
  for (size_t i = 0; i < devices.size(); i++) {
    std::string field = Indexed("devices", i);
    RequireObject(devices[i], field);
    RejectUnknownKeys(devices[i], field, {"bus", "device", "function"});
    FunctionSetting function{};
    function.bus = Byte(Member(devices[i], "bus", field), field + ".bus");
    function.device = Byte(Member(devices[i], "device", field), field + ".device", 31);
    function.function = devices[i].contains("function")
                            ? Byte(devices[i]["function"], field + ".function", 7)
                            : 0;
    board.devices.push_back(function);
  }
}

void ParsePlatformLang(const json &value, Board &board) {
  if (value.is_null()) {
    board.platformLang.reset();
  } else if (value.is_string()) {
    board.platformLang = value.get<std::string>();
  } else {
    Fail("platformLang", "must be a string, or null for no variable");
  }
}

void ParseSmbios(const json &records, Board &board) {
  RequireArray(records, "smbios");
  for (size_t i = 0; i < records.size(); i++) {
    std::string field = Indexed("smbios", i);
    RequireObject(records[i], field);
    RejectUnknownKeys(records[i], field, {"type", "strings"});
    EarlierRecord record{};
    record.type = Byte(Member(records[i], "type", field), field + ".type", 126);
    if (records[i].contains("strings")) {
      const json &strings = records[i]["strings"];
      RequireArray(strings, field + ".strings");
      for (size_t s = 0; s < strings.size(); s++) {
        std::string stringField = field + ".strings[" + std::to_string(s) + "]";
        if (!strings[s].is_string()) Fail(stringField, "must be a string");
        std::string text = strings[s].get<std::string>();
        if (text.empty() || text.size() > 64 || text.find('\0') != std::string::npos) {
          Fail(stringField, "must hold 1 to 64 characters, no NUL");
        }
        record.strings.push_back(text);
      }
    }
    board.smbios.push_back(record);
  }
}

void ParseFaults(const json &faults, Board &board) {
  RequireObject(faults, "faults");
  RejectUnknownKeys(faults, "faults",
                    {"failAllocation", "addFails", "addFailsFrom", "removeFails", "getNextFailsAfter",
                     "noSmbiosProtocol", "noHiiDatabase", "noHiiString", "noRegisterAccess",
                     "newPackageListFails"});
  // Faults at the N-th call of a service, and the least N that names one.
  struct Counted {
    const char *key;
    std::optional<uint64_t> BoardFaults::*member;
    uint64_t least;
    const char *leastProblem;
  };
  const Counted counted[] = {
      {"failAllocation", &BoardFaults::failAllocation, 1, "counts allocations from 1"},
      {"addFails", &BoardFaults::addFails, 1, "counts adds from 1"},
      {"addFailsFrom", &BoardFaults::addFailsFrom, 1, "counts adds from 1"},
      {"removeFails", &BoardFaults::removeFails, 1, "counts removals from 1"},
      {"getNextFailsAfter", &BoardFaults::getNextFailsAfter, 0, ""}};
  for (const Counted &fault : counted) {
    if (!faults.contains(fault.key)) continue;
    std::string field = std::string("faults.") + fault.key;
    uint64_t n = Number(faults[fault.key], field, std::numeric_limits<uint32_t>::max());
    if (n < fault.least) Fail(field, fault.leastProblem);
    board.faults.*fault.member = n;
  }
  struct Flag {
    const char *key;
    bool BoardFaults::*member;
  };
  const Flag flags[] = {{"noSmbiosProtocol", &BoardFaults::noSmbiosProtocol},
                        {"noHiiDatabase", &BoardFaults::noHiiDatabase},
                        {"noHiiString", &BoardFaults::noHiiString},
                        {"noRegisterAccess", &BoardFaults::noRegisterAccess},
                        {"newPackageListFails", &BoardFaults::newPackageListFails}};
  for (const Flag &flag : flags) {
    if (!faults.contains(flag.key)) continue;
    if (!faults[flag.key].is_boolean()) Fail(std::string("faults.") + flag.key, "must be true or false");
    board.faults.*flag.member = faults[flag.key].get<bool>();
  }
}

}  // namespace

bool ParseBoard(const std::string &text, Board &board, std::string &error) {
  try {
    json document = Parse(text);
    RequireObject(document, "board");
    // "qemu" and "description" carry details for other readers of the file.
    RejectUnknownKeys(document, "",
                      {"name", "description", "platform", "straps", "pads", "sockets", "bridges",
                       "devices", "platformLang", "smbios", "faults", "qemu"});
    if (document.contains("name")) {
      if (!document["name"].is_string()) Fail("name", "must be a string");
      board.name = document["name"].get<std::string>();
    }
    if (document.contains("platform")) ParsePlatformName(document["platform"], board);
    if (document.contains("straps")) ParseStraps(document["straps"], board);
    if (document.contains("pads")) ParsePads(document["pads"], board);
    if (document.contains("sockets")) ParseSockets(document["sockets"], board);
    if (document.contains("bridges")) ParseBridges(document["bridges"], board);
    if (document.contains("devices")) ParseDevices(document["devices"], board);
    if (document.contains("platformLang")) ParsePlatformLang(document["platformLang"], board);
    if (document.contains("smbios")) ParseSmbios(document["smbios"], board);
    if (document.contains("faults")) ParseFaults(document["faults"], board);
  } catch (const FieldError &problem) {
    error = problem.message;
    return false;
  } catch (const json::exception &problem) {
    error = problem.what();
    return false;
  }
  return true;
}

bool LoadBoardFile(const std::string &path, Board &board, std::string &error) {
  return json_fields::LoadFile(path, board, error, ParseBoard);
}

std::string BoardFilePlatform(const std::string &path) {
  std::string text;
  ReadWholeFile(path, text);
  json document = json::parse(text, nullptr, false);
  if (!document.is_object() || !document.contains("platform") || !document["platform"].is_string()) {
    return "";
  }
  return document["platform"].get<std::string>();
}

std::vector<uint8_t> EarlierRecordBytes(const EarlierRecord &record) {
  size_t formatted = sizeof(EFI_SMBIOS_TABLE_HEADER);
  if (record.type == SMBIOS_TYPE_SYSTEM_SLOTS) formatted = sizeof(SMBIOS_TABLE_TYPE9);
  if (record.type == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) formatted = sizeof(SMBIOS_TABLE_TYPE41);
  std::vector<uint8_t> bytes(formatted, 0);
  bytes[0] = record.type;
  bytes[1] = static_cast<uint8_t>(formatted);
  bytes[2] = 0xFE;
  bytes[3] = 0xFF;
  if (formatted > RECORD_DESIGNATION_OFFSET && !record.strings.empty()) {
    bytes[RECORD_DESIGNATION_OFFSET] = 1;
  }
  if (record.type == SMBIOS_TYPE_SYSTEM_SLOTS) {
    bytes[0x05] = SlotTypePciExpressGen3X8;
    bytes[0x06] = SlotDataBusWidth8X;
    bytes[0x07] = SlotUsageAvailable;
    bytes[0x08] = SlotLengthLong;
  }
  if (record.type == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
    bytes[0x05] = OnBoardDeviceExtendedTypeVideo;
  }
  for (const std::string &text : record.strings) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  if (record.strings.empty()) bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace sim
