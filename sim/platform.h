// A platform as the simulator knows it: constant tables the generator writes
// from the same description the driver's tables come from
// (BUILD/platforms/NAME/host/platform_model.cpp): what the hardware model
// wires (strap pads, where each socket's bus-number word is), what the
// firmware names the driver by (its file GUID), and what a picture of the
// board shows. The driver itself never reads it: it runs its own tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "include/uefi_base.h"

namespace sim {

// Limits of the simulator's board model (sim::Board), which the generator
// enforces too.
inline constexpr size_t kMaxSockets = 4;
inline constexpr size_t kMaxRiserPositions = 4;
inline constexpr size_t kMaxPadsPerPosition = 8;

// The identifiers a board's straps give, one for each riser position in the
// platform's order; a position not given reads its noCard identifier (0 for
// a position without one).
using StrapIds = std::array<std::optional<uint8_t>, kMaxRiserPositions>;

struct PlatformSocket {
  uint8_t bus, device, function;  // where the bus-number word lives
  uint16_t offset;
  std::span<const uint8_t> groups;  // root-port groups: bytes of the word that name a bus
};

struct PlatformSlot {
  uint16_t slotId;
  const char *designation;  // the string's text
  unsigned socket;          // of its wiring (the lowest identifier's, for a slot wired by identifier)
};

struct PlatformCard {
  const char *name;
  std::span<const PlatformSlot> slots;
};

// Identifiers first to last name cards[card] of their position.
struct PlatformCardRange {
  uint8_t first, last;
  uint8_t card;
};

struct PlatformRiserPosition {
  const char *name;   // the board file's straps key and boardsim's option
  const char *title;  // as the picture and the table show it
  std::span<const uint32_t> pads;  // most significant first
  std::optional<uint8_t> noCard;
  std::span<const PlatformCard> cards;  // by name
  std::span<const PlatformCardRange> cardMap;

  unsigned Identifiers() const { return 1u << pads.size(); }
  // The card IDENTIFIER names, or null when it names none.
  const PlatformCard *CardOf(unsigned identifier) const;
};

struct Platform {
  const char *name;
  const char *baseName;
  EFI_GUID fileGuid;
  std::span<const PlatformSocket> sockets;
  std::span<const PlatformRiserPosition> risers;
  std::span<const PlatformSlot> mezzanineSlots;
  const char *source;       // "platforms/NAME/platform.json"
  const char *description;  // its text as the generator lays it out
};

// True when two descriptions say the same (layout and key order aside): JSON
// equality, false when either is not JSON.
bool SameDescription(const std::string &first, const std::string &second);

// The platform this program's driver was generated from, built into the program.
const Platform &BuiltInPlatform();

// Where the built-in description came from, as the generator names it
// ("platforms/NAME/platform.json").
const char *BuiltInPlatformSource();

}  // namespace sim
