// The whole driver through its entry point on arbitrary boards: strap levels
// and pad owners, socket bus words, bridges and present functions, PlatformLang,
// earlier records, missing protocols and injected firmware failures.
//
// Every run must leave nothing allocated, a well-formed table and no earlier
// record lost without a replacement. A run without injected failures must
// produce exactly the records a model of the board predicts.
//
// Input, in order (bytes past the end read as zero):
//   flags   0x01 no SMBIOS protocol, 0x02 no HII database, 0x04 no HII string
//           protocol, 0x08 no register-access protocol, 0x10 NewPackageList
//           fails, 0x20 GetNext never reports the end (only when the next
//           byte is 0xA0-0xAF), 0x40 the register-access protocol gives no
//           address, 0x80 one pool allocation fails
//   ordinal of that allocation - 1
//   risers  bits 0-2 riser 1, 3-5 riser 2, 6-7 riser 3
//   socket 0 and socket 1 bus-number words (32 bits each)
//   PlatformLang: mode (0 absent, 1 text+NUL, 2 text without NUL, 3 "en-US"),
//           length (0-31), bytes
//   pads    count (0-4), each: selector (0x80: a 32-bit pad id follows, else
//           strap pad selector % 8), then level (bit 0) and owner (bits 1-2)
//   bridges count (0-15), each: kind (bit 0: the bus is byte (kind >> 2) & 3
//           of socket (kind >> 1) & 1's word), bus, device, secondary
//   devices count (0-15), each: kind (0 bus, 1 socket word byte as above,
//           2 secondary bus of bridge[bus % count]), bus, device, function
//   records count (0-5), each: type, string count (0-3), each string:
//           length (1-20) and bytes
//   faults  count (0-2), each: service index, ordinal - 1, kind (bit 0: from
//           that call on; bits 1-2 the status)
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/sideband_window.h"
#include "sim/status_names.h"
#include "tests/fuzz/driver_run.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char *const kServices[] = {"AllocatePool",
                                 "HandleProtocol",
                                 "GetVariable",
                                 "LocateProtocol:Smbios",
                                 "LocateProtocol:HiiString",
                                 "LocateProtocol:HiiDatabase",
                                 "LocateProtocol:RegisterAccess",
                                 "NewPackageList",
                                 "GetLanguages",
                                 "GetString",
                                 "Smbios.Add",
                                 "Smbios.Remove",
                                 "Smbios.GetNext",
                                 "RegisterAccess.ConfigSpaceAddress",
                                 sim::kGetNextRecord};
constexpr size_t kServiceCount = sizeof(kServices) / sizeof(kServices[0]);
const EFI_STATUS kStatuses[] = {EFI_DEVICE_ERROR, EFI_OUT_OF_RESOURCES, EFI_NOT_FOUND,
                                EFI_UNSUPPORTED};

// The board's strap pads, riser 1's three, riser 2's three, riser 3's two,
// each most significant first (platforms/two-socket-riser/platform.json).
constexpr uint32_t kRiserStrapPads[8] = {0x0102000F, 0x01020010, 0x01020011, 0x01030015,
                                         0x01030016, 0x01030017, 0x01030011, 0x01030012};

struct Rule {
  std::string name;
  uint64_t ordinal;
  bool onward;
  EFI_STATUS status;
};

struct FuzzedBoard {
  sim::Board board;
  bool getNextNeverEnds = false;
  bool noAddress = false;
  bool langWithoutNul = false;
  std::vector<Rule> rules;
};

uint8_t SocketByte(const sim::Board &board, uint8_t kind) {
  return static_cast<uint8_t>(board.sockets[(kind >> 1) & 1] >> (8 * ((kind >> 2) & 3)));
}

FuzzedBoard ReadBoard(fuzz::ByteReader &in) {
  FuzzedBoard fuzzed;
  sim::Board &board = fuzzed.board;
  uint8_t flags = in.Byte();
  uint8_t failAllocation = in.Byte();
  board.faults.noSmbiosProtocol = (flags & 0x01) != 0;
  board.faults.noHiiDatabase = (flags & 0x02) != 0;
  board.faults.noHiiString = (flags & 0x04) != 0;
  board.faults.noRegisterAccess = (flags & 0x08) != 0;
  board.faults.newPackageListFails = (flags & 0x10) != 0;
  // A walk that never ends costs some 65535 calls; keep such boards rare.
  fuzzed.getNextNeverEnds = (flags & 0x20) != 0 && (failAllocation & 0xF0) == 0xA0;
  fuzzed.noAddress = (flags & 0x40) != 0;
  if ((flags & 0x80) != 0) board.faults.failAllocation = failAllocation + 1u;

  uint8_t risers = in.Byte();
  board.riserIds = {risers & 7, (risers >> 3) & 7, (risers >> 6) & 3};
  board.sockets[0] = in.Word32();
  board.sockets[1] = in.Word32();

  uint8_t langMode = in.Byte() & 3;
  std::vector<uint8_t> lang = in.Bytes(in.Byte() % 32);
  if (langMode == 0) {
    board.platformLang.reset();
  } else if (langMode == 3) {
    board.platformLang = "en-US";
  } else {
    // Board text is stored with its NUL; mode 2 stores it without.
    board.platformLang = std::string(lang.begin(), lang.end());
  }

  for (size_t count = in.Byte() % 5; count > 0; count--) {
    uint8_t selector = in.Byte();
    uint32_t pad =
        (selector & 0x80) != 0 ? in.Word32() : kRiserStrapPads[selector % 8];
    uint8_t setting = in.Byte();
    board.pads.push_back({pad, setting & 1u, (setting >> 1) & 3u});
  }
  for (size_t count = in.Byte() % 16; count > 0; count--) {
    uint8_t kind = in.Byte(), bus = in.Byte(), device = in.Byte(), secondary = in.Byte();
    if ((kind & 1) != 0) bus = SocketByte(board, kind);
    board.bridges.push_back({bus, static_cast<uint8_t>(device & 0x1F), secondary});
  }
  for (size_t count = in.Byte() % 16; count > 0; count--) {
    uint8_t kind = in.Byte(), bus = in.Byte(), device = in.Byte(), function = in.Byte();
    if ((kind & 3) == 1) bus = SocketByte(board, kind);
    if ((kind & 3) == 2 && !board.bridges.empty()) {
      bus = board.bridges[bus % board.bridges.size()].secondary;
    }
    board.devices.push_back(
        {bus, static_cast<uint8_t>(device & 0x1F), static_cast<uint8_t>(function & 7)});
  }
  for (size_t count = in.Byte() % 6; count > 0; count--) {
    sim::EarlierRecord record;
    record.type = in.Byte();
    if (record.type == SMBIOS_TYPE_END_OF_TABLE) record.type = SMBIOS_TYPE_SYSTEM_SLOTS;
    for (size_t strings = in.Byte() % 4; strings > 0; strings--) {
      std::vector<uint8_t> bytes = in.Bytes(in.Byte() % 20 + 1);
      std::string text;
      for (uint8_t byte : bytes) text += static_cast<char>(byte == 0 ? ' ' : byte);
      if (text.empty()) text = "x";
      record.strings.push_back(text);
    }
    board.smbios.push_back(record);
  }
  for (size_t count = in.Byte() % 3; count > 0; count--) {
    uint8_t service = in.Byte(), ordinal = in.Byte(), kind = in.Byte();
    fuzzed.rules.push_back({kServices[service % kServiceCount], ordinal + 1u, (kind & 1) != 0,
                            kStatuses[(kind >> 1) & 3]});
  }
  fuzzed.langWithoutNul = langMode == 2;
  return fuzzed;
}

// ---- The model: what a board's hardware answers, and what records follow ----

struct Hardware {
  const sim::Board &board;
  bool reachable;

  bool Exists(uint8_t bus, uint8_t device, uint8_t function) const {
    if (!reachable) return false;
    if ((bus == 0x00 || bus == 0x80) && device == 8 && function == 2) return true;
    for (const sim::BridgeSetting &b : board.bridges) {
      if (b.bus == bus && b.device == device && function == 0) return true;
    }
    for (const sim::FunctionSetting &f : board.devices) {
      if (f.bus == bus && f.device == device && f.function == function) return true;
    }
    return false;
  }
  uint8_t Secondary(uint8_t bus, uint8_t device) const {
    if (!Exists(bus, device, 0)) return 0xFF;
    uint8_t secondary = 0;
    for (const sim::BridgeSetting &b : board.bridges) {
      if (b.bus == bus && b.device == device) secondary = b.secondary;
    }
    return secondary;
  }
  uint8_t RootPortBus(int socket, int k) const {
    return reachable ? static_cast<uint8_t>(board.sockets[socket] >> (8 * k)) : 0xFF;
  }
};

// Riser identifiers as the strap pads read: a pad owned by another agent reads 0.
void ModelRiserIds(const sim::Board &board, unsigned ids[3]) {
  unsigned level[8], owner[8] = {};
  unsigned riser1 = *board.riserIds[0], riser2 = *board.riserIds[1], riser3 = *board.riserIds[2];
  unsigned straps[8] = {riser1 >> 2u & 1u, riser1 >> 1u & 1u, riser1 & 1u,
                        riser2 >> 2u & 1u, riser2 >> 1u & 1u, riser2 & 1u,
                        riser3 >> 1u & 1u, riser3 & 1u};
  for (int i = 0; i < 8; i++) level[i] = straps[i];
  for (const sim::PadSetting &pad : board.pads) {
    for (int i = 0; i < 8; i++) {
      if (pad.pad == kRiserStrapPads[i]) {
        level[i] = pad.level.value_or(level[i]);
        owner[i] = pad.owner;
      }
    }
  }
  unsigned bits[8];
  for (int i = 0; i < 8; i++) bits[i] = owner[i] == 0 ? level[i] : 0;
  ids[0] = bits[0] << 2 | bits[1] << 1 | bits[2];
  ids[1] = bits[3] << 2 | bits[4] << 1 | bits[5];
  ids[2] = bits[6] << 1 | bits[7];
}

struct Slot {
  uint16_t id;
  int text;
  int socket, group, device;
  bool x16;
};

std::vector<Slot> RiserSlots(int riser, unsigned id) {
  if (riser == 1) {
    switch (id) {
      case 0:
      case 4:
        return {{1, 4, 0, 1, 0, true}};
      case 1:
      case 6:
        return {{1, 4, 0, 3, 2, false}};
      case 5:
        return {{1, 4, 0, 1, 0, true}, {3, 5, 0, 3, 2, false}};
      case 3:
        return {{1, 4, 0, 1, 0, false}, {2, 5, 0, 1, 2, false}, {3, 6, 0, 3, 2, false}};
      default:
        return {};
    }
  }
  if (riser == 2) {
    switch (id) {
      case 0:
      case 4:
        return {{4, 7, 1, 2, 0, true}};
      case 1:
      case 6:
        return {{4, 7, 1, 1, 0, false}};
      case 5:
        return {{4, 7, 1, 2, 0, true}, {6, 8, 1, 1, 0, false}};
      case 3:
        return {{4, 7, 1, 2, 2, false}, {5, 8, 1, 2, 0, false}, {6, 9, 1, 1, 0, false}};
      default:
        return {};
    }
  }
  switch (id) {
    case 1:
      return {{7, 10, 1, 3, 0, false}, {8, 11, 1, 3, 2, false}};
    case 2:
      return {{7, 10, 1, 3, 0, true}};
    default:
      return {};
  }
}

struct ExpectedRecord {
  std::vector<uint8_t> shape;  // as reliability::Shape gives it
  std::string designation;
};

std::vector<ExpectedRecord> ModelRecords(const Hardware &hw, const unsigned ids[3], bool strings) {
  std::vector<ExpectedRecord> records;
  auto text = [&](int id) { return strings ? std::string(reliability::kDriverTexts[id]) : ""; };
  std::vector<Slot> slots = {{17, 2, 0, 3, 0, false}, {18, 3, 0, 2, 2, false}};
  const unsigned none[3] = {7, 7, 3};
  for (int riser = 1; riser <= 3; riser++) {
    if (ids[riser - 1] == none[riser - 1]) continue;
    for (const Slot &slot : RiserSlots(riser, ids[riser - 1])) slots.push_back(slot);
  }
  for (const Slot &slot : slots) {
    uint8_t bus = hw.RootPortBus(slot.socket, slot.group);
    bool inUse = hw.Exists(hw.Secondary(bus, static_cast<uint8_t>(slot.device)), 0, 0);
    records.push_back({{9, 0x11, 0, 0, 0, static_cast<uint8_t>(slot.x16 ? 0xB6 : 0xB5),
                        static_cast<uint8_t>(slot.x16 ? 0x0D : 0x0B),
                        static_cast<uint8_t>(inUse ? 4 : 3), 4, static_cast<uint8_t>(slot.id), 0,
                        0x04, 0x05, 0, 0, bus, static_cast<uint8_t>(slot.device << 3)},
                       text(slot.text)});
  }
  struct Device {
    uint8_t type, devFunc;
  };
  const Device devices[5] = {{3, 0x00}, {5, 0x00}, {5, 0x01}, {9, 0xB8}, {9, 0x8D}};
  for (uint8_t i = 0; i < 5; i++) {
    uint8_t bus = 0;
    bool present = false;
    if (i == 0) {
      bus = hw.Secondary(2, 0);
      present = hw.Exists(bus, 0, 0);
    } else if (i <= 2) {
      bus = hw.Secondary(hw.RootPortBus(0, 2), 1);
      present = hw.Exists(bus, 0, 0);
    } else {
      present = i == 3 ? hw.Exists(0, 0x17, 0) : hw.Exists(0, 0x11, 5);
    }
    uint8_t type = static_cast<uint8_t>(devices[i].type | (present ? 0x80 : 0));
    records.push_back({{41, 0x0B, 0, 0, 0, type, i, 0, 0, bus, devices[i].devFunc}, text(12 + i)});
  }
  return records;
}

std::string Describe(const std::vector<uint8_t> &bytes) {
  return fuzz::HexBytes(bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::ByteReader in(data, size);
  FuzzedBoard fuzzed = ReadBoard(in);
  const sim::Board &board = fuzzed.board;

  reliability::DriverRun run = reliability::RunDriver(board, [&](sim::SimulatedBoard &simulated) {
    if (fuzzed.langWithoutNul) simulated.variables.SetPlatformLang(*board.platformLang, false);
    simulated.smbios.SetGetNextNeverEnds(fuzzed.getNextNeverEnds);
    simulated.pci.SetNoAddress(fuzzed.noAddress);
    for (const Rule &rule : fuzzed.rules) {
      // Calls count from the driver's first, as a board file's faults do.
      if (rule.onward) {
        simulated.firmware.faults.FailFrom(rule.name, rule.ordinal, rule.status);
      } else {
        simulated.firmware.faults.FailCall(rule.name, rule.ordinal, rule.status);
      }
    }
  });

  // Always: nothing leaked, the table sound, nothing lost that was not replaced.
  size_t structures = 0;
  std::string problem = reliability::CheckRunIsSound(run, &structures);
  bool smbiosFaults = false;
  for (const Rule &rule : fuzzed.rules) {
    smbiosFaults =
        smbiosFaults || rule.name.rfind("Smbios", 0) == 0 || rule.name == "LocateProtocol:Smbios";
  }
  // A table that fails the driver's adds and removals after a purge may lose
  // earlier records; that is the firmware's doing, so only the rest is judged.
  if (smbiosFaults && problem.find("purged without a replacement") != std::string::npos) {
    problem.clear();
  }
  FUZZ_REQUIRE(problem.empty(), problem);

  unsigned ids[3];
  ModelRiserIds(board, ids);
  FUZZ_REQUIRE(run.riserIds == std::vector<uint8_t>(ids, ids + 3),
               "riser identifiers " + std::to_string(run.riserIds.at(0)) + std::to_string(run.riserIds.at(1)) +
                   std::to_string(run.riserIds.at(2)) + ", model " + std::to_string(ids[0]) +
                   std::to_string(ids[1]) + std::to_string(ids[2]));

  EFI_STATUS expectedStatus = reliability::StatusByTheRules(run.log);
  FUZZ_REQUIRE(run.status == expectedStatus, "status " + sim::StatusName(run.status) +
                                                 ", by the rules " +
                                                 sim::StatusName(expectedStatus));
  if (!fuzzed.rules.empty() || board.faults.failAllocation.has_value()) return 0;

  // Without injected failures the run is exactly what the board calls for.
  if (board.faults.noSmbiosProtocol) {
    FUZZ_REQUIRE(run.status == EFI_NOT_FOUND, "status " + sim::StatusName(run.status));
    FUZZ_REQUIRE(run.added.empty() && run.after.size() == run.before.size(),
                 "the table changed without an SMBIOS protocol");
    return 0;
  }
  FUZZ_REQUIRE(run.status == EFI_SUCCESS, "status " + sim::StatusName(run.status));
  Hardware hw{board, !board.faults.noRegisterAccess && !fuzzed.noAddress};
  bool strings =
      !board.faults.noHiiDatabase && !board.faults.noHiiString && !board.faults.newPackageListFails;
  std::vector<ExpectedRecord> expected = ModelRecords(hw, ids, strings);
  FUZZ_REQUIRE(run.added.size() == expected.size(), std::to_string(run.added.size()) +
                                                        " records added, model " +
                                                        std::to_string(expected.size()));
  for (size_t i = 0; i < expected.size(); i++) {
    const sim::SmbiosRecord &record = run.added[i];
    std::string designation = reliability::Designation(record);
    FUZZ_REQUIRE(reliability::Shape(record) == expected[i].shape,
                 "record " + std::to_string(i) + ": " + Describe(reliability::Shape(record)) +
                     "\nmodel " + Describe(expected[i].shape));
    FUZZ_REQUIRE(designation == expected[i].designation,
                 "record " + std::to_string(i) + " designation \"" + designation + "\", model \"" +
                     expected[i].designation + "\"");
  }
  // Every earlier slot and device record is replaced; everything else stays, in order.
  std::vector<sim::SmbiosRecord> kept;
  for (const sim::SmbiosRecord &record : run.before) {
    if (record.Type() != SMBIOS_TYPE_SYSTEM_SLOTS &&
        record.Type() != SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION) {
      kept.push_back(record);
    }
  }
  FUZZ_REQUIRE(run.after.size() == kept.size() + run.added.size(), "table size after the run");
  for (size_t i = 0; i < kept.size(); i++) {
    FUZZ_REQUIRE(run.after[i].bytes == kept[i].bytes, "earlier record " + std::to_string(i));
  }
  return 0;
}
