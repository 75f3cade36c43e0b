// Board files: JSON, numbers as JSON numbers or "0x" strings.
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "include/smbios_records.h"
#include "sim/board.h"

namespace sim {

namespace {

using nlohmann::json;

// Thrown inside the parser only; ParseBoard turns it into the error message.
struct BoardError {
  std::string message;
};

[[noreturn]] void Fail(const std::string &field, const std::string &problem) {
  throw BoardError{field + ": " + problem};
}

uint64_t Number(const json &value, const std::string &field, uint64_t maximum) {
  uint64_t number = 0;
  if (value.is_number_unsigned()) {
    number = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) Fail(field, "must not be negative");
    number = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    if (text.size() < 3 || text.size() > 18 || (text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0)) {
      Fail(field, "a string number must be written 0x followed by hex digits");
    }
    // Hex digits only: stoull alone would also take a sign or leading blanks.
    if (text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      Fail(field, json(text).dump() + " is not a hex number");
    }
    number = std::stoull(text.substr(2), nullptr, 16);  // at most 16 digits: cannot overflow
  } else {
    Fail(field, "must be a number or a \"0x\" string");
  }
  if (number > maximum) {
    std::ostringstream message;
    message << "must be a number from 0 to " << maximum;
    Fail(field, message.str());
  }
  return number;
}

uint8_t Byte(const json &value, const std::string &field, uint64_t maximum = 0xFF) {
  return static_cast<uint8_t>(Number(value, field, maximum));
}

const json &Member(const json &object, const char *key, const std::string &field) {
  auto found = object.find(key);
  if (found == object.end()) Fail(field + "." + key, "is missing");
  return *found;
}

void RequireObject(const json &value, const std::string &field) {
  if (!value.is_object()) Fail(field, "must be an object");
}

void RequireArray(const json &value, const std::string &field) {
  if (!value.is_array()) Fail(field, "must be an array");
}

// A key as a message shows it: quoted and escaped when it is empty or holds control characters.
std::string KeyName(const std::string &key) {
  if (key.empty()) return "\"\"";
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return json(key).dump();
  }
  return key;
}

void RejectUnknownKeys(const json &object, const std::string &field,
                       std::initializer_list<const char *> known) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool isKnown = false;
    for (const char *key : known) isKnown = isKnown || it.key() == key;
    if (!isKnown) Fail(field.empty() ? KeyName(it.key()) : field + "." + KeyName(it.key()), "unknown field");
  }
}

std::string Indexed(const char *name, size_t index) {
  return std::string(name) + "[" + std::to_string(index) + "]";
}

void ParseStraps(const json &straps, Board &board) {
  RequireObject(straps, "straps");
  RejectUnknownKeys(straps, "straps", {"riser1", "riser2", "riser3"});
  if (straps.contains("riser1")) board.riser1 = Byte(straps["riser1"], "straps.riser1", 7);
  if (straps.contains("riser2")) board.riser2 = Byte(straps["riser2"], "straps.riser2", 7);
  if (straps.contains("riser3")) board.riser3 = Byte(straps["riser3"], "straps.riser3", 3);
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
  if (sockets.size() != 2) Fail("sockets", "must hold two bus-number words, socket 0 then socket 1");
  for (size_t i = 0; i < 2; i++) {
    board.sockets[i] = static_cast<uint32_t>(Number(sockets[i], Indexed("sockets", i), 0xFFFFFFFF));
  }
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
                    {"failAllocation", "noSmbiosProtocol", "noHiiDatabase", "noHiiString",
                     "noRegisterAccess", "newPackageListFails"});
  if (faults.contains("failAllocation")) {
    uint64_t n = Number(faults["failAllocation"], "faults.failAllocation",
                        std::numeric_limits<uint32_t>::max());
    if (n == 0) Fail("faults.failAllocation", "counts allocations from 1");
    board.faults.failAllocation = n;
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
  json document;
  try {
    document = json::parse(text);
  } catch (const json::exception &problem) {
    // A syntax error, or a number too large for a double (out_of_range).
    error = std::string("not valid JSON: ") + problem.what();
    return false;
  }
  try {
    RequireObject(document, "board");
    // "qemu" and "description" carry details for other readers of the file.
    RejectUnknownKeys(document, "",
                      {"name", "description", "straps", "pads", "sockets", "bridges", "devices",
                       "platformLang", "smbios", "faults", "qemu"});
    if (document.contains("name")) {
      if (!document["name"].is_string()) Fail("name", "must be a string");
      board.name = document["name"].get<std::string>();
    }
    if (document.contains("straps")) ParseStraps(document["straps"], board);
    if (document.contains("pads")) ParsePads(document["pads"], board);
    if (document.contains("sockets")) ParseSockets(document["sockets"], board);
    if (document.contains("bridges")) ParseBridges(document["bridges"], board);
    if (document.contains("devices")) ParseDevices(document["devices"], board);
    if (document.contains("platformLang")) ParsePlatformLang(document["platformLang"], board);
    if (document.contains("smbios")) ParseSmbios(document["smbios"], board);
    if (document.contains("faults")) ParseFaults(document["faults"], board);
  } catch (const BoardError &problem) {
    error = problem.message;
    return false;
  } catch (const json::exception &problem) {
    error = problem.what();
    return false;
  }
  return true;
}

bool LoadBoardFile(const std::string &path, Board &board, std::string &error) {
  std::ifstream file(path);
  if (!file) {
    error = path + ": cannot be read";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  if (!ParseBoard(text.str(), board, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
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
