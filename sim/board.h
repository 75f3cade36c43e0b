// A board as the simulator runs it: what is fitted (straps, PCI topology),
// what the firmware holds before the driver runs, and which faults to inject.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform.h"

namespace sim {

struct PadSetting {
  uint32_t pad;
  std::optional<uint32_t> level;  // 0 or 1; left out, the pad keeps the level it has
  uint32_t owner;                 // 0 (host) to 3
};

struct BridgeSetting {
  uint8_t bus;
  uint8_t device;
  uint8_t secondary;
};

struct FunctionSetting {
  uint8_t bus;
  uint8_t device;
  uint8_t function;
};

// A record already in the SMBIOS table from an earlier producer.
struct EarlierRecord {
  uint8_t type;
  std::vector<std::string> strings;
};

// Calls are counted from the driver's first: setting the board up is not counted.
struct BoardFaults {
  std::optional<uint64_t> failAllocation;     // the N-th pool allocation fails
  std::optional<uint64_t> addFails;           // the N-th SMBIOS Add fails
  std::optional<uint64_t> addFailsFrom;       // every Add from the N-th on fails
  std::optional<uint64_t> removeFails;        // the N-th Remove fails
  std::optional<uint64_t> getNextFailsAfter;  // GetNext fails once it has given N records
  bool noSmbiosProtocol = false;
  bool noHiiDatabase = false;
  bool noHiiString = false;
  bool noRegisterAccess = false;
  bool newPackageListFails = false;
};

// A board of the platform this program's driver was built for (see
// BuiltInPlatform()).
struct Board {
  std::string name;
  std::string platform;  // the platform the board file names; empty: not named
  // Riser identifiers by position, in the platform's order, turned into
  // strap pad levels by the platform's wiring; empty where the board says
  // nothing (the position's noCard).
  StrapIds riserIds;
  std::vector<PadSetting> pads;  // applied after the straps
  uint32_t sockets[kMaxSockets] = {};  // bus-number word of each socket of the platform
  std::vector<BridgeSetting> bridges;
  std::vector<FunctionSetting> devices;
  std::optional<std::string> platformLang = std::string("en-US");
  std::vector<EarlierRecord> smbios;
  BoardFaults faults;
};

// Reads a board file of the built-in platform: its straps are keyed by the
// platform's riser position names. On failure returns false with a message
// that names the offending field, e.g. "bridges[2].secondary: must be a
// number from 0 to 255".
bool LoadBoardFile(const std::string &path, Board &board, std::string &error);
bool ParseBoard(const std::string &text, Board &board, std::string &error);

// The platform a board file names ("platform"), or empty when the file names
// none or cannot be read as JSON: for choosing a platform before reading it.
std::string BoardFilePlatform(const std::string &path);

// The bytes of an earlier producer's record: a formatted area of the type's
// usual length (header only for types the board has no layout for) and its strings.
std::vector<uint8_t> EarlierRecordBytes(const EarlierRecord &record);

}  // namespace sim
