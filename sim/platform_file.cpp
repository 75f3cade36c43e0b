// Platform descriptions (platforms/README.md): JSON, every object checked for
// unknown and missing keys, numbers as JSON numbers or "0x" strings.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "sim/json_fields.h"
#include "sim/platform.h"

namespace sim {

// Built into each platform's simulator by the generator (platform_description.cpp).
extern const char kBuiltInPlatformSource[];
extern const char kBuiltInPlatformDescription[];

namespace {

using namespace json_fields;

constexpr uint64_t kFormat = 1;

void RequireCount(const json &array, const std::string &field, size_t least, size_t most) {
  RequireArray(array, field);
  if (array.size() < least || array.size() > most) {
    Fail(field, "must hold " + std::to_string(least) + " to " + std::to_string(most) + " entries");
  }
}

// 8-4-4-4-12 hex digits.
EFI_GUID ReadGuid(const json &value, const std::string &field) {
  const std::string &text = Text(value, field);
  const size_t dashes[] = {8, 13, 18, 23};
  bool wellFormed = text.size() == 36;
  for (size_t i = 0; wellFormed && i < text.size(); i++) {
    bool dash = i == dashes[0] || i == dashes[1] || i == dashes[2] || i == dashes[3];
    wellFormed = dash ? text[i] == '-' : std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
  }
  if (!wellFormed) Fail(field, json(text).dump() + " is not a GUID written 8-4-4-4-12 hex digits");
  auto hex = [&](size_t at, size_t digits) { return std::stoull(text.substr(at, digits), nullptr, 16); };
  EFI_GUID guid{};
  guid.Data1 = static_cast<UINT32>(hex(0, 8));
  guid.Data2 = static_cast<UINT16>(hex(9, 4));
  guid.Data3 = static_cast<UINT16>(hex(14, 4));
  const size_t bytes[] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; i++) guid.Data4[i] = static_cast<UINT8>(hex(bytes[i], 2));
  return guid;
}

// A decimal identifier key of a card map or a wiring table.
unsigned IdentifierKey(const std::string &key, const std::string &field, unsigned count) {
  bool decimal = !key.empty() && key.size() <= 3 && key.find_first_not_of("0123456789") == std::string::npos &&
                 (key == "0" || key[0] != '0');
  if (!decimal) Fail(Keyed(field, key), "is not an identifier: write it in decimal");
  unsigned identifier = static_cast<unsigned>(std::stoul(key));
  if (identifier >= count) {
    Fail(Keyed(field, key), "must be an identifier from 0 to " + std::to_string(count - 1));
  }
  return identifier;
}

class Reader {
 public:
  explicit Reader(Platform &platform) : platform_(platform) {}

  void Read(const json &document) {
    RequireObject(document, "description");
    RejectUnknownKeys(document, "",
                      {"format", "platform", "description", "module", "sockets", "slotRecords",
                       "strings", "mezzanineSlots", "cardMaps", "riserPositions", "onboardDevices"});
    if (Number(Member(document, "format", ""), "format", UINT64_MAX) != kFormat) {
      Fail("format", "must be " + std::to_string(kFormat) + ", the version of the format this simulator reads");
    }
    platform_.name = Text(Member(document, "platform", ""), "platform");
    if (document.contains("description")) Text(document["description"], "description");
    const json &module = Member(document, "module", "");
    RequireObject(module, "module");
    RejectUnknownKeys(module, "module", {"baseName", "fileGuid"});
    platform_.baseName = Text(Member(module, "baseName", "module"), "module.baseName");
    platform_.fileGuid = ReadGuid(Member(module, "fileGuid", "module"), "module.fileGuid");
    ReadSockets(Member(document, "sockets", ""));
    ReadSlotRecords(Member(document, "slotRecords", ""));
    ReadStrings(Member(document, "strings", ""));
    const json &mezzanine = Member(document, "mezzanineSlots", "");
    RequireCount(mezzanine, "mezzanineSlots", 1, 255);
    for (size_t i = 0; i < mezzanine.size(); i++) {
      platform_.mezzanineSlots.push_back(ReadSlot(mezzanine[i], Indexed("mezzanineSlots", i), 0));
    }
    ReadCardMaps(Member(document, "cardMaps", ""));
    ReadPositions(Member(document, "riserPositions", ""));
    ReadDevices(Member(document, "onboardDevices", ""));
  }

 private:
  void ReadSockets(const json &sockets) {
    RequireCount(sockets, "sockets", 1, kMaxSockets);
    for (size_t i = 0; i < sockets.size(); i++) {
      std::string field = Indexed("sockets", i);
      RequireObject(sockets[i], field);
      RejectUnknownKeys(sockets[i], field, {"busNumbers", "groups"});
      const json &word = Member(sockets[i], "busNumbers", field);
      std::string wordField = field + ".busNumbers";
      RequireObject(word, wordField);
      RejectUnknownKeys(word, wordField, {"bus", "device", "function", "offset"});
      PlatformSocket socket{};
      socket.bus = Byte(Member(word, "bus", wordField), wordField + ".bus");
      socket.device = Byte(Member(word, "device", wordField), wordField + ".device", 31);
      socket.function = Byte(Member(word, "function", wordField), wordField + ".function", 7);
      socket.offset = static_cast<uint16_t>(Number(Member(word, "offset", wordField), wordField + ".offset", 0xFC));
      if (socket.offset % 4 != 0) Fail(wordField + ".offset", "must be a multiple of 4: the word is read whole");
      const json &groups = Member(sockets[i], "groups", field);
      RequireCount(groups, field + ".groups", 1, 4);
      for (size_t k = 0; k < groups.size(); k++) {
        socket.groups.push_back(Byte(groups[k], Indexed(field + ".groups", k), 3));
      }
      platform_.sockets.push_back(socket);
    }
  }

  void ReadSlotRecords(const json &records) {
    RequireObject(records, "slotRecords");
    RejectUnknownKeys(records, "slotRecords", {"length", "characteristics1", "characteristics2", "widths"});
    for (const char *key : {"length", "characteristics1", "characteristics2"}) {
      Byte(Member(records, key, "slotRecords"), std::string("slotRecords.") + key);
    }
    const json &widths = Member(records, "widths", "slotRecords");
    RequireObject(widths, "slotRecords.widths");
    if (widths.empty()) Fail("slotRecords.widths", "must name at least one width");
    for (auto it = widths.begin(); it != widths.end(); ++it) {
      std::string field = Keyed("slotRecords.widths", it.key());
      RequireObject(it.value(), field);
      RejectUnknownKeys(it.value(), field, {"slotType", "dataBusWidth"});
      Byte(Member(it.value(), "slotType", field), field + ".slotType");
      Byte(Member(it.value(), "dataBusWidth", field), field + ".dataBusWidth");
      widths_.push_back(it.key());
    }
  }

  void ReadStrings(const json &strings) {
    RequireObject(strings, "strings");
    RejectUnknownKeys(strings, "strings", {"language", "languageName", "texts"});
    Text(Member(strings, "language", "strings"), "strings.language");
    const json &texts = Member(strings, "texts", "strings");
    RequireCount(texts, "strings.texts", 1, 0xFFFF);
    for (size_t i = 0; i < texts.size(); i++) {
      std::string field = Indexed("strings.texts", i);
      RequireObject(texts[i], field);
      RejectUnknownKeys(texts[i], field, {"name", "text"});
      strings_.push_back(Text(Member(texts[i], "name", field), field + ".name"));
      Text(Member(texts[i], "text", field), field + ".text");
    }
    Designation(Member(strings, "languageName", "strings"), "strings.languageName");
  }

  void Designation(const json &value, const std::string &field) {
    const std::string &name = Text(value, field);
    for (const std::string &known : strings_) {
      if (known == name) return;
    }
    Fail(field, json(name).dump() + " names no string of strings.texts");
  }

  // Socket, group and root-port device of a root port; returns the socket.
  unsigned ReadRootPort(const json &at, const std::string &field) {
    unsigned socket = Byte(Member(at, "socket", field), field + ".socket");
    if (socket >= platform_.sockets.size()) {
      Fail(field + ".socket", "there is no socket " + std::to_string(socket));
    }
    uint8_t group = Byte(Member(at, "group", field), field + ".group");
    const std::vector<uint8_t> &groups = platform_.sockets[socket].groups;
    if (std::find(groups.begin(), groups.end(), group) == groups.end()) {
      Fail(field + ".group", "socket " + std::to_string(socket) + " has no root-port group " + std::to_string(group));
    }
    Byte(Member(at, "device", field), field + ".device", 31);
    return socket;
  }

  // A root port and a width; returns the socket.
  unsigned ReadWiring(const json &wiring, const std::string &field, bool keysChecked) {
    RequireObject(wiring, field);
    if (!keysChecked) RejectUnknownKeys(wiring, field, {"socket", "group", "device", "width"});
    unsigned socket = ReadRootPort(wiring, field);
    const json &width = Member(wiring, "width", field);
    if (!width.is_string() || std::find(widths_.begin(), widths_.end(), width.get<std::string>()) == widths_.end()) {
      Fail(field + ".width", "must name a width of slotRecords.widths");
    }
    return socket;
  }

  // A slot of a riser card (IDENTIFIERS > 0, may be wired by identifier) or a mezzanine slot.
  PlatformSlot ReadSlot(const json &slot, const std::string &field, unsigned identifiers) {
    RequireObject(slot, field);
    bool byIdentifier = slot.contains("wiringByIdentifier");
    if (byIdentifier) {
      RejectUnknownKeys(slot, field, {"slotId", "designation", "wiringByIdentifier"});
    } else {
      RejectUnknownKeys(slot, field, {"slotId", "designation", "socket", "group", "device", "width"});
    }
    PlatformSlot result{};
    result.slotId = static_cast<uint16_t>(Number(Member(slot, "slotId", field), field + ".slotId", 0xFFFF));
    Designation(Member(slot, "designation", field), field + ".designation");
    if (!byIdentifier) {
      result.socket = ReadWiring(slot, field, true);
      return result;
    }
    std::string tableField = field + ".wiringByIdentifier";
    if (identifiers == 0) Fail(tableField, "only a riser card's slot is wired by identifier");
    const json &table = slot["wiringByIdentifier"];
    RequireObject(table, tableField);
    if (table.empty()) Fail(tableField, "must wire the slot for at least one identifier");
    for (auto it = table.begin(); it != table.end(); ++it) {
      IdentifierKey(it.key(), tableField, identifiers);
      unsigned socket = ReadWiring(it.value(), Keyed(tableField, it.key()), false);
      if (it == table.begin()) result.socket = socket;
    }
    return result;
  }

  void ReadCardMaps(const json &maps) {
    RequireObject(maps, "cardMaps");
    for (auto it = maps.begin(); it != maps.end(); ++it) {
      std::string field = Keyed("cardMaps", it.key());
      RequireObject(it.value(), field);
      std::map<unsigned, std::string> &map = cardMaps_[it.key()];
      for (auto entry = it.value().begin(); entry != it.value().end(); ++entry) {
        unsigned identifier = IdentifierKey(entry.key(), field, 1u << kMaxPadsPerPosition);
        map[identifier] = Text(entry.value(), Keyed(field, entry.key()));
      }
    }
  }

  void ReadPositions(const json &positions) {
    RequireCount(positions, "riserPositions", 1, kMaxRiserPositions);
    for (size_t i = 0; i < positions.size(); i++) {
      std::string field = Indexed("riserPositions", i);
      const json &entry = positions[i];
      RequireObject(entry, field);
      RejectUnknownKeys(entry, field, {"name", "title", "pads", "noCard", "cardMap", "cards"});
      PlatformRiserPosition position;
      position.name = Text(Member(entry, "name", field), field + ".name");
      for (const PlatformRiserPosition &other : platform_.risers) {
        if (other.name == position.name) Fail(field + ".name", "two riser positions are named " + position.name);
      }
      position.title = Text(Member(entry, "title", field), field + ".title");
      const json &pads = Member(entry, "pads", field);
      RequireCount(pads, field + ".pads", 1, kMaxPadsPerPosition);
      for (size_t k = 0; k < pads.size(); k++) {
        position.pads.push_back(static_cast<uint32_t>(Number(pads[k], Indexed(field + ".pads", k), 0xFFFFFFFF)));
      }
      if (entry.contains("noCard")) {
        position.noCard = Byte(entry["noCard"], field + ".noCard", position.Identifiers() - 1);
      }
      const json &mapName = Member(entry, "cardMap", field);
      if (!mapName.is_string() || cardMaps_.count(mapName.get<std::string>()) == 0) {
        Fail(field + ".cardMap", "must name a map of cardMaps");
      }
      for (const auto &[identifier, card] : cardMaps_[mapName.get<std::string>()]) {
        if (identifier < position.Identifiers()) position.cardOf[identifier] = card;
      }
      const json &cards = Member(entry, "cards", field);
      RequireObject(cards, field + ".cards");
      for (auto it = cards.begin(); it != cards.end(); ++it) {
        std::string cardField = Keyed(field + ".cards", it.key());
        RequireCount(it.value(), cardField, 0, 8);
        std::vector<PlatformSlot> &slots = position.cards[it.key()];
        for (size_t k = 0; k < it.value().size(); k++) {
          slots.push_back(ReadSlot(it.value()[k], Indexed(cardField, k), position.Identifiers()));
        }
      }
      platform_.risers.push_back(position);
    }
  }

  void ReadDevices(const json &devices) {
    RequireCount(devices, "onboardDevices", 1, 255);
    for (size_t i = 0; i < devices.size(); i++) {
      std::string field = Indexed("onboardDevices", i);
      const json &device = devices[i];
      RequireObject(device, field);
      RejectUnknownKeys(device, field, {"designation", "type", "instance", "behindBridge", "behindRootPort",
                                        "onBus", "device", "function", "probeFunction"});
      int locations = device.contains("behindBridge") + device.contains("behindRootPort") + device.contains("onBus");
      if (locations != 1) Fail(field, "must say where the device is: behindBridge, behindRootPort or onBus, exactly one");
      Designation(Member(device, "designation", field), field + ".designation");
      Text(Member(device, "type", field), field + ".type");
      Byte(Member(device, "instance", field), field + ".instance");
      Byte(Member(device, "device", field), field + ".device", 31);
      Byte(Member(device, "function", field), field + ".function", 7);
      if (device.contains("probeFunction")) Byte(device["probeFunction"], field + ".probeFunction", 7);
      if (device.contains("onBus")) Byte(device["onBus"], field + ".onBus");
      if (device.contains("behindBridge")) {
        std::string at = field + ".behindBridge";
        RequireObject(device["behindBridge"], at);
        RejectUnknownKeys(device["behindBridge"], at, {"bus", "device"});
        Byte(Member(device["behindBridge"], "bus", at), at + ".bus");
        Byte(Member(device["behindBridge"], "device", at), at + ".device", 31);
      }
      if (device.contains("behindRootPort")) {
        std::string at = field + ".behindRootPort";
        const json &port = device["behindRootPort"];
        RequireObject(port, at);
        RejectUnknownKeys(port, at, {"socket", "group", "device"});
        ReadRootPort(port, at);
      }
    }
  }

  Platform &platform_;
  std::vector<std::string> widths_;
  std::vector<std::string> strings_;
  std::map<std::string, std::map<unsigned, std::string>> cardMaps_;
};

}  // namespace

bool ParsePlatform(const std::string &text, Platform &platform, std::string &error) {
  Platform read;
  try {
    Reader(read).Read(Parse(text));
  } catch (const FieldError &problem) {
    error = problem.message;
    return false;
  } catch (const json::exception &problem) {
    error = problem.what();
    return false;
  }
  read.text = text;
  platform = std::move(read);
  return true;
}

bool LoadPlatformFile(const std::string &path, Platform &platform, std::string &error) {
  return json_fields::LoadFile(path, platform, error, ParsePlatform);
}

bool SameDescription(const std::string &first, const std::string &second) {
  json a = json::parse(first, nullptr, false), b = json::parse(second, nullptr, false);
  return !a.is_discarded() && a == b;
}

const Platform &BuiltInPlatform() {
  static const Platform platform = [] {
    Platform read;
    std::string error;
    if (!ParsePlatform(kBuiltInPlatformDescription, read, error)) {
      std::fprintf(stderr, "the built-in description %s cannot be read: %s\n", kBuiltInPlatformSource,
                   error.c_str());
      std::abort();
    }
    return read;
  }();
  return platform;
}

const char *BuiltInPlatformSource() { return kBuiltInPlatformSource; }

}  // namespace sim
