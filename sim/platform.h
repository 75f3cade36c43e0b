// A platform as the simulator knows it, read from the same description the
// driver's tables are generated from (platforms/NAME/platform.json): what the
// hardware model wires (strap pads, where each socket's bus-number word is),
// what the firmware names the driver by (its file GUID), and what a picture
// of the board shows. The driver itself never reads it: it runs the tables
// generated from it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "include/uefi_base.h"

namespace sim {

// Limits of the simulator's board model (sim::Board), which the generator
// enforces too.
inline constexpr size_t kMaxSockets = 4;
inline constexpr size_t kMaxRiserPositions = 4;
inline constexpr size_t kMaxPadsPerPosition = 8;

// A riser identifier that stands for the position's noCard identifier (0 for
// a position without one): what a board that says nothing of a position has.
inline constexpr uint8_t kNoCard = 0xFF;

struct PlatformSocket {
  uint8_t bus, device, function;  // where the bus-number word lives
  uint16_t offset;
  std::vector<uint8_t> groups;  // root-port groups: bytes of the word that name a bus
};

struct PlatformSlot {
  uint16_t slotId;
  std::string designation;  // the string's text
  unsigned socket;          // of its wiring (the first, for a slot wired by identifier)
};

struct PlatformRiserPosition {
  std::string name;   // the board file's straps key
  std::string title;  // as the picture and the table show it
  std::vector<uint32_t> pads;  // most significant first
  std::optional<uint8_t> noCard;
  std::map<unsigned, std::string> cardOf;  // identifier -> card, from the position's card map
  std::map<std::string, std::vector<PlatformSlot>> cards;
  unsigned Identifiers() const { return 1u << pads.size(); }
};

struct Platform {
  std::string name;
  std::string baseName;
  EFI_GUID fileGuid{};
  std::vector<PlatformSocket> sockets;
  std::vector<PlatformRiserPosition> risers;
  std::vector<PlatformSlot> mezzanineSlots;
  std::string text;  // the description as read, for comparing descriptions
};

// Reads a description. On failure returns false with a message that names the
// offending field, e.g. "riserPositions[0].pads[1]: must be a number from 0 to
// 4294967295". Checks what the simulator relies on; the generator checks the
// rest (tools/platform/generate.py) before the driver is built.
bool ParsePlatform(const std::string &text, Platform &platform, std::string &error);
bool LoadPlatformFile(const std::string &path, Platform &platform, std::string &error);

// True when two descriptions say the same (layout and key order aside).
bool SameDescription(const std::string &first, const std::string &second);

// The platform this program's driver was generated from; its description is
// built into the program. Aborts if that description cannot be read.
const Platform &BuiltInPlatform();

// Where the built-in description came from, as the generator names it
// ("platforms/NAME/platform.json").
const char *BuiltInPlatformSource();

}  // namespace sim
