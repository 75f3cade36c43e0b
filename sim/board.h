// A board as the simulator runs it: what is fitted (straps, PCI topology),
// what the firmware holds before the driver runs, and which faults to inject.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

struct BoardFaults {
  std::optional<uint64_t> failAllocation;  // the N-th pool allocation fails
  bool noSmbiosProtocol = false;
  bool noHiiDatabase = false;
  bool noHiiString = false;
  bool noRegisterAccess = false;
  bool newPackageListFails = false;
};

struct Board {
  std::string name;
  // Riser identifiers, turned into strap pad levels by the board's wiring.
  uint8_t riser1 = 7;
  uint8_t riser2 = 7;
  uint8_t riser3 = 3;
  std::vector<PadSetting> pads;  // applied after the straps
  uint32_t sockets[2] = {0, 0};
  std::vector<BridgeSetting> bridges;
  std::vector<FunctionSetting> devices;
  std::optional<std::string> platformLang = std::string("en-US");
  std::vector<EarlierRecord> smbios;
  BoardFaults faults;
};

// Reads a board file. On failure returns false with a message that names the
// offending field, e.g. "bridges[2].secondary: must be a number from 0 to 255".
bool LoadBoardFile(const std::string &path, Board &board, std::string &error);
bool ParseBoard(const std::string &text, Board &board, std::string &error);

// The bytes of an earlier producer's record: a formatted area of the type's
// usual length (header only for types the board has no layout for) and its strings.
std::vector<uint8_t> EarlierRecordBytes(const EarlierRecord &record);

}  // namespace sim
