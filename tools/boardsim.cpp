// boardsim: runs the real driver entry point in the firmware simulator on a
// described board and shows the SMBIOS records it wrote.
//
// A boardsim runs the driver of one platform, the one it is linked with: the
// driver's shared routines and the tables generated from that platform's
// description, the very code of the platform's image. One program per
// platform, rather than one program loading each platform's driver as a
// shared object, because the driver keeps its state in module-level variables
// and calls into the simulator (the sideband window): a process per platform
// keeps both as in the image, with no symbol renamed, exported or looked up.
// build/tools/boardsim is the default platform's; a board of another platform
// (named by --platform or by the board file) is handed, with the same
// arguments, to that platform's boardsim-NAME beside it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>
#include <vector>

#include "include/smbios_records.h"
#include "sim/board.h"
#include "sim/board_picture.h"
#include "sim/dmidecode.h"
#include "sim/json_fields.h"
#include "sim/later_slot_fields.h"
#include "sim/platform.h"
#include "sim/simulated_board.h"
#include "sim/status_names.h"
#include "sim/table_compare.h"
#include "sim/table_dump.h"

namespace {

constexpr int kExitBadUsage = 2;

const char kUsage[] =
    "usage: boardsim BOARD.json [options]\n"
    "  --platform FILE  the platform description the board is of (platforms/NAME/platform.json);\n"
    "                   by default the one the board file names (\"platform\"), else " BOARDSIM_DEFAULT_PLATFORM "\n"
    "  --dmidecode      print the real dmidecode decoding of the resulting table\n"
    "  --dump FILE      write the table in dmidecode's binary dump format\n"
    "  --compare TABLE  compare a machine's table (dmidecode --dump-bin) with the driver's records;\n"
    "                   exit 0 when they agree, 1 when they differ, 2 when either cannot be read\n"
    "  --json           print the records as JSON (raw bytes and decoded fields)\n"
    "  --svg FILE       draw the board as the driver saw it, as an SVG picture\n"
    "  --trace          list, per record, the pad reads, PCI probes and firmware calls behind it\n"
    "  --POSITION N     override the identifier of a riser position (its name in the description,\n"
    "                   e.g. --riser1 N)\n"
    "  --lang TAG       override PlatformLang (\"none\" for no variable)\n"
    "  --help, --version\n"
    "platforms: " BOARDSIM_PLATFORMS "\n";

struct Options {
  std::string boardPath;
  std::string platformPath;
  bool dmidecode = false;
  bool json = false;
  bool trace = false;
  std::string dumpPath;
  std::string svgPath;
  std::string comparePath;
  sim::StrapIds riserIds;  // --POSITION N, by position
  std::optional<std::string> lang;
};

bool ParseNumberArgument(const char *text, int maximum, int *value) {
  char *end = nullptr;
  long number = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || number < 0 || number > maximum) return false;
  *value = static_cast<int>(number);
  return true;
}

// The position an option --NAME overrides, or -1.
int RiserPositionIndex(const std::string &argument) {
  std::span<const sim::PlatformRiserPosition> positions = sim::BuiltInPlatform().risers;
  for (size_t i = 0; i < positions.size(); i++) {
    if (argument == std::string("--") + positions[i].name) return static_cast<int>(i);
  }
  return -1;
}

bool ParseOptions(int argc, char **argv, Options &options, std::string &error) {
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    auto value = [&](const char *name) -> const char * {
      if (i + 1 >= argc) {
        error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (argument == "--dmidecode") {
      options.dmidecode = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--trace") {
      options.trace = true;
    } else if (argument == "--dump") {
      const char *path = value("--dump");
      if (path == nullptr) return false;
      options.dumpPath = path;
    } else if (argument == "--svg") {
      const char *path = value("--svg");
      if (path == nullptr) return false;
      options.svgPath = path;
    } else if (argument == "--compare") {
      const char *path = value("--compare");
      if (path == nullptr) return false;
      options.comparePath = path;
    } else if (argument == "--lang") {
      const char *tag = value("--lang");
      if (tag == nullptr) return false;
      options.lang = tag;
    } else if (argument == "--platform") {
      const char *path = value("--platform");
      if (path == nullptr) return false;
      options.platformPath = path;
    } else if (RiserPositionIndex(argument) >= 0) {
      int index = RiserPositionIndex(argument);
      const char *text = value(argument.c_str());
      if (text == nullptr) return false;
      int maximum = static_cast<int>(sim::BuiltInPlatform().risers[static_cast<size_t>(index)].Identifiers()) - 1;
      int identifier = 0;
      if (!ParseNumberArgument(text, maximum, &identifier)) {
        error = argument + ": must be a number from 0 to " + std::to_string(maximum);
        return false;
      }
      options.riserIds[static_cast<size_t>(index)] = static_cast<uint8_t>(identifier);
    } else if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (argument == "--version") {
      std::printf("boardsim %s\n", PROJECT_VERSION);
      std::exit(0);
    } else if (!argument.empty() && argument[0] == '-') {
      error = "unknown option " + argument + " (" + sim::BuiltInPlatform().name + "'s riser positions:";
      for (const sim::PlatformRiserPosition &position : sim::BuiltInPlatform().risers) {
        error += std::string(" --") + position.name;
      }
      error += ")";
      return false;
    } else if (options.boardPath.empty()) {
      options.boardPath = argument;
    } else {
      error = "only one board file, please";
      return false;
    }
  }
  if (options.boardPath.empty()) {
    error = "no board file given";
    return false;
  }
  return true;
}

void ApplyOverrides(const Options &options, sim::Board &board) {
  for (size_t i = 0; i < options.riserIds.size(); i++) {
    if (options.riserIds[i]) board.riserIds[i] = options.riserIds[i];
  }
  if (options.lang) {
    if (*options.lang == "none") {
      board.platformLang.reset();
    } else {
      board.platformLang = *options.lang;
    }
  }
}

// Decoded view of one of the driver's records.
struct RecordView {
  std::string kind;        // "slot" or "device"
  unsigned idOrInstance;   // Slot ID, or Device Type Instance
  std::string designation;
  std::string shape;       // slot type and width, or device type
  std::string state;       // "In use"/"Available", "Enabled"/"Disabled"
  unsigned bus, device, function;
};

std::string DeviceTypeName(uint8_t type) {
  switch (type & 0x7F) {
    case OnBoardDeviceExtendedTypeVideo: return "Video";
    case OnBoardDeviceExtendedTypeEthernet: return "Ethernet";
    case OnBoardDeviceExtendedTypeSATAController: return "SATA Controller";
    default: return "type " + std::to_string(type & 0x7F);
  }
}

// The PCI Express slot types of generation 3 to 5 by lane count.
std::string SlotTypeName(uint8_t slotType) {
  struct Generation {
    uint8_t x1;  // the Slot Type of its x1 slot; x2, x4, x8 and x16 follow
    const char *name;
  };
  constexpr Generation kGenerations[] = {{0xB2, "Gen3"}, {0xB9, "Gen4"}, {0xBF, "Gen5"}};
  const char *const lanes[] = {"x1", "x2", "x4", "x8", "x16"};
  for (const Generation &generation : kGenerations) {
    unsigned lane = static_cast<unsigned>(slotType - generation.x1);
    if (slotType >= generation.x1 && lane < std::size(lanes)) {
      return std::string("PCIe ") + generation.name + " " + lanes[lane] + " slot";
    }
  }
  return "slot type " + std::to_string(slotType);
}

std::string SlotShapeName(uint8_t slotType, uint8_t width) {
  struct Lanes {
    uint8_t dataBusWidth;
    const char *name;
  };
  constexpr Lanes kWidths[] = {{0x08, "x1"}, {0x09, "x2"},  {0x0A, "x4"}, {0x0B, "x8"},
                               {0x0C, "x12"}, {0x0D, "x16"}, {0x0E, "x32"}};
  for (const Lanes &lanes : kWidths) {
    if (lanes.dataBusWidth == width) return SlotTypeName(slotType) + ", " + lanes.name + " bus";
  }
  return SlotTypeName(slotType) + ", width " + std::to_string(width);
}

RecordView Decode(const sim::SmbiosRecord &record) {
  RecordView view{};
  const std::vector<uint8_t> &b = record.bytes;
  view.designation = record.NumberedString(b[RECORD_DESIGNATION_OFFSET]).value_or("(no string)");
  if (record.Type() == SMBIOS_TYPE_SYSTEM_SLOTS && b.size() >= sizeof(SMBIOS_TABLE_TYPE9)) {
    view.kind = "slot";
    view.idOrInstance = static_cast<unsigned>(b[0x09] | (b[0x0A] << 8));
    view.shape = SlotShapeName(b[0x05], b[0x06]);
    view.state = b[0x07] == SlotUsageInUse       ? "In use"
                 : b[0x07] == SlotUsageAvailable ? "Available"
                                                 : "usage " + std::to_string(b[0x07]);
    view.bus = b[0x0F];
    view.device = b[0x10] >> 3;
    view.function = b[0x10] & 7;
  } else if (b.size() >= sizeof(SMBIOS_TABLE_TYPE41)) {
    view.kind = "device";
    view.idOrInstance = b[0x06];
    view.shape = DeviceTypeName(b[0x05]);
    view.state = (b[0x05] & ONBOARD_DEVICE_ENABLED) ? "Enabled" : "Disabled";
    view.bus = b[0x09];
    view.device = b[0x0A] >> 3;
    view.function = b[0x0A] & 7;
  }
  return view;
}

std::string Hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  char pair[4];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof(pair), "%02x", byte);
    text += pair;
  }
  return text;
}

std::string Bdf(const RecordView &view) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02x:%02x.%x", view.bus, view.device, view.function);
  return text;
}

std::vector<unsigned> RiserIds(const sim::BoardRun &run) {
  return std::vector<unsigned>(run.result.riserIds.begin(), run.result.riserIds.end());
}

// A call that failed: an error other than the answer to a size query and
// GetNext's end of the table, which the driver asks for on purpose.
bool FailedCall(const sim::LogEntry &entry) {
  if (!EFI_ERROR(entry.status) || entry.status == EFI_BUFFER_TOO_SMALL) return false;
  return !(entry.Is("Smbios.GetNext") && std::strstr(entry.form, "end") != nullptr);
}

bool RefusedAdd(const sim::LogEntry &entry) { return entry.Is("Smbios.Add") && EFI_ERROR(entry.status); }

size_t RefusedAdds(const sim::BoardRun &run) {
  const std::vector<sim::LogEntry> &entries = run.log.Entries();
  return static_cast<size_t>(std::count_if(entries.begin(), entries.end(), RefusedAdd));
}

void PrintTable(const sim::Board &board, const sim::BoardRun &run) {
  std::printf("board: %s\n", board.name.empty() ? "(unnamed)" : board.name.c_str());
  std::string identifiers;
  std::vector<unsigned> ids = RiserIds(run);
  for (size_t i = 0; i < ids.size(); i++) {
    std::string title = sim::BuiltInPlatform().risers[i].title;
    std::transform(title.begin(), title.end(), title.begin(), [](unsigned char c) { return std::tolower(c); });
    identifiers += (i == 0 ? "" : ", ") + title + " = " + std::to_string(ids[i]);
  }
  std::printf("riser identifiers: %s\n", identifiers.c_str());
  size_t refused = RefusedAdds(run);
  std::string refusals = refused == 0 ? "" : ", " + std::to_string(refused) + " refused by the firmware";
  std::printf("records written: %zu%s; driver status: %s\n\n", run.added.size(), refusals.c_str(),
              sim::StatusName(run.result.status).c_str());
  std::printf("%-6s  %-4s  %-8s  %-33s  %-30s  %-9s  %s\n", "handle", "type", "id/inst",
              "designation", "slot type and width / device", "usage", "bus:dev.fn");
  for (const sim::SmbiosRecord &record : run.added) {
    RecordView view = Decode(record);
    std::printf("0x%04X  %-4u  %-8u  %-33s  %-30s  %-9s  %s\n", record.handle, record.Type(),
                view.idOrInstance, view.designation.c_str(), view.shape.c_str(),
                view.state.c_str(), Bdf(view).c_str());
  }
  if (run.result.outstandingAllocations != 0 || !run.result.poolErrors.empty()) {
    std::printf("\nWARNING: %zu pool allocations left outstanding, %zu pool errors\n",
                run.result.outstandingAllocations, run.result.poolErrors.size());
  }
}

// A failed call is marked, and names its status.
std::string TraceLine(const sim::LogEntry &entry, const std::string &text) {
  if (!FailedCall(entry)) return "   " + text;
  std::string status = sim::StatusName(entry.status);
  return "!! " + text + (text.find(status) == std::string::npos ? " -> " + status : "");
}

void PrintTrace(const sim::BoardRun &run) {
  std::printf("\ntrace (firmware calls and hardware reads, grouped by the record they led to;"
              " !! marks a failed call):\n");
  size_t record = 0;
  std::vector<std::string> pending;
  const std::vector<sim::LogEntry> &entries = run.log.Entries();
  for (size_t i = 0; i < entries.size(); i++) {
    const sim::LogEntry &entry = entries[i];
    pending.push_back(TraceLine(entry, run.log[i]));
    bool added = entry.Is("Smbios.Add") && entry.status == EFI_SUCCESS;
    if (added && record < run.added.size()) {
      RecordView view = Decode(run.added[record]);
      std::printf("\n-- record %zu: type %u, %s \"%s\" (%s)\n", record + 1, run.added[record].Type(),
                  view.kind.c_str(), view.designation.c_str(), view.state.c_str());
      record++;
    } else if (RefusedAdd(entry)) {
      std::printf("\n-- not added: the firmware refused a type %u record with %s\n",
                  entry.valueCount > 0 ? static_cast<unsigned>(entry.values[0]) : 0u,
                  sim::StatusName(entry.status).c_str());
    } else {
      continue;
    }
    for (const std::string &line : pending) std::printf("%s\n", line.c_str());
    pending.clear();
  }
  if (!pending.empty()) {
    std::printf("\n-- after the last record\n");
    for (const std::string &line : pending) std::printf("%s\n", line.c_str());
  }
}

// The fields of a later Type 9 layout, those the record holds.
void AddLaterSlotFields(const sim::SmbiosRecord &record, nlohmann::json &entry) {
  sim::LaterSlotFields later = sim::ReadLaterSlotFields(record);
  if (!later.dataBusWidth) return;
  entry["dataBusWidthBase"] = *later.dataBusWidth;
  entry["peers"] = nlohmann::json::array();
  for (const sim::PeerGroup &peer : later.peers) {
    entry["peers"].push_back({{"segment", peer.segment}, {"bus", peer.bus}, {"device", peer.device},
                              {"function", peer.function}, {"width", peer.width}});
  }
  if (later.physicalWidth) {
    entry["slotInformation"] = *later.slotInformation;
    entry["physicalWidth"] = *later.physicalWidth;
    entry["pitch"] = *later.pitch;
  }
  if (later.height) entry["height"] = *later.height;
}

nlohmann::json RecordsJson(const sim::Board &board, const sim::BoardRun &run) {
  nlohmann::json out;
  out["board"] = board.name;
  out["platform"] = sim::BuiltInPlatform().name;
  out["status"] = sim::StatusName(run.result.status);
  out["statusCode"] = run.result.status;
  out["refusedAdds"] = RefusedAdds(run);
  out["riserIds"] = RiserIds(run);
  out["outstandingAllocations"] = run.result.outstandingAllocations;
  out["packageListRegistered"] = run.result.packageListRegistered;
  out["records"] = nlohmann::json::array();
  for (const sim::SmbiosRecord &record : run.added) {
    RecordView view = Decode(record);
    nlohmann::json entry;
    entry["handle"] = record.handle;
    entry["type"] = record.Type();
    entry["bytes"] = Hex(record.bytes);
    entry["designation"] = view.designation;
    entry["bus"] = view.bus;
    entry["device"] = view.device;
    entry["function"] = view.function;
    if (view.kind == "slot") {
      entry["slotId"] = view.idOrInstance;
      entry["slotType"] = record.bytes[0x05];
      entry["dataBusWidth"] = record.bytes[0x06];
      entry["currentUsage"] = record.bytes[0x07];
      AddLaterSlotFields(record, entry);
    } else {
      entry["instance"] = view.idOrInstance;
      entry["deviceType"] = record.bytes[0x05] & 0x7F;
      entry["enabled"] = (record.bytes[0x05] & ONBOARD_DEVICE_ENABLED) != 0;
    }
    out["records"].push_back(entry);
  }
  return out;
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

// Writes beside PATH and renames, so a failed write leaves no half-written file.
bool WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::string partial = path + ".partial";
  bool written = WriteFile(partial, bytes);
  if (written && std::rename(partial.c_str(), path.c_str()) == 0) return true;
  std::remove(partial.c_str());
  return false;
}

// Exit status 0 when the machine's Type 9/41 records agree with the driver's, 1 when not.
int ReportComparison(const sim::BoardRun &run, const sim::TableDump &machine) {
  std::vector<std::string> differences = sim::CompareInventory(run.table, machine.records);
  size_t records = sim::InventoryRecords(run.table).size();
  for (const std::string &line : differences) std::printf("%s\n", line.c_str());
  if (differences.empty()) {
    std::printf("agree: the table's %zu Type 9/41 records are the driver's, handles aside\n", records);
    return 0;
  }
  std::printf("differ: %zu differences from the driver's %zu Type 9/41 records\n", differences.size(), records);
  return 1;
}

// The boardsim of another platform, beside this one: boardsim for the default
// platform, boardsim-NAME for the others.
std::string SiblingPath(const std::string &platform) {
  std::error_code ignored;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
  std::string name = platform == BOARDSIM_DEFAULT_PLATFORM ? "boardsim" : "boardsim-" + platform;
  return (self.parent_path() / name).string();
}

bool KnownPlatform(const std::string &name) {
  std::string known = std::string(",") + BOARDSIM_PLATFORMS + ",";
  return known.find("," + name + ",") != std::string::npos;
}

// The platform a description given with --platform names. Its other fields
// are that platform's boardsim's to compare, whole, with the description it
// was built from.
bool DescribedPlatform(const std::string &path, std::string &platform, std::string &error) {
  std::string text;
  if (!sim::json_fields::ReadWholeFile(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  if (document.is_discarded()) {
    error = path + ": not valid JSON";
    return false;
  }
  if (!document.is_object() || !document.contains("platform") || !document["platform"].is_string()) {
    error = path + ": platform: is missing: not a platform description";
    return false;
  }
  platform = document["platform"].get<std::string>();
  return true;
}

// The platform the arguments ask for: the one --platform FILE describes, else
// the one the board file names, else the default. Every option but the flags
// takes a value, so this needs no knowledge of the platform's positions.
bool RequestedPlatform(int argc, char **argv, std::string &platform, std::string &error) {
  const std::string flags[] = {"--dmidecode", "--json", "--trace", "--help", "-h", "--version"};
  std::string platformPath, boardPath;
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    bool flag = std::find(std::begin(flags), std::end(flags), argument) != std::end(flags);
    if (argument == "--platform" && i + 1 < argc) {
      platformPath = argv[++i];
    } else if (!flag && !argument.empty() && argument[0] == '-') {
      i++;  // its value
    } else if (!flag && boardPath.empty()) {
      boardPath = argument;
    }
  }
  platform = BOARDSIM_DEFAULT_PLATFORM;
  if (!platformPath.empty()) {
    return DescribedPlatform(platformPath, platform, error);
  } else if (!boardPath.empty() && !sim::BoardFilePlatform(boardPath).empty()) {
    platform = sim::BoardFilePlatform(boardPath);
  }
  return true;
}

// A description given with --platform must be the one this boardsim's driver
// was generated from.
bool SameAsBuiltIn(const std::string &path, std::string &error) {
  std::string text;
  sim::json_fields::ReadWholeFile(path, text);
  if (sim::SameDescription(text, sim::BuiltInPlatform().description)) return true;
  error = path + " differs from the description this boardsim's driver was generated from (" +
          sim::BuiltInPlatformSource() + "): rebuild (cmake --build on the build tree) to simulate it";
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  std::string error;
  std::string platform;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (!RequestedPlatform(argc, argv, platform, error)) {
    std::fprintf(stderr, "boardsim: %s\n", error.c_str());
    return kExitBadUsage;
  }
  if (platform != sim::BuiltInPlatform().name) {
    if (!KnownPlatform(platform)) {
      std::fprintf(stderr, "boardsim: platform %s is not one this boardsim was built with (%s): "
                   "add platforms/%s/platform.json and rebuild\n", platform.c_str(),
                   BOARDSIM_PLATFORMS, platform.c_str());
      return kExitBadUsage;
    }
    std::string sibling = SiblingPath(platform);
    argv[0] = sibling.data();
    execv(sibling.c_str(), argv);
    std::fprintf(stderr, "boardsim: cannot run %s: %s\n", sibling.c_str(), std::strerror(errno));
    return kExitBadUsage;
  }

  Options options;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "boardsim: %s\n%s", error.c_str(), kUsage);
    return kExitBadUsage;
  }
  if (!options.platformPath.empty() && !SameAsBuiltIn(options.platformPath, error)) {
    std::fprintf(stderr, "boardsim: %s\n", error.c_str());
    return kExitBadUsage;
  }
  sim::Board board;
  if (!sim::LoadBoardFile(options.boardPath, board, error)) {
    std::fprintf(stderr, "boardsim: %s\n", error.c_str());
    return kExitBadUsage;
  }
  ApplyOverrides(options, board);

  sim::TableDump machine;
  if (!options.comparePath.empty() && !sim::LoadTableDump(options.comparePath, machine, error)) {
    std::fprintf(stderr, "boardsim: %s\n", error.c_str());
    return kExitBadUsage;
  }

  sim::BoardRun run = sim::RunBoard(board);
  if (!options.comparePath.empty()) {
    return ReportComparison(run, machine);
  }

  if (!options.dumpPath.empty() && !WriteWhole(options.dumpPath, run.dump)) {
    std::fprintf(stderr, "boardsim: cannot write %s\n", options.dumpPath.c_str());
    return 1;
  }
  if (!options.svgPath.empty()) {
    std::string picture = sim::BoardPictureSvg(board, run);
    if (!WriteWhole(options.svgPath, std::vector<uint8_t>(picture.begin(), picture.end()))) {
      std::fprintf(stderr, "boardsim: cannot write %s\n", options.svgPath.c_str());
      return 1;
    }
  }
  if (options.json) {
    std::cout << RecordsJson(board, run).dump(2) << "\n";
  } else {
    PrintTable(board, run);
  }
  if (options.trace) {
    PrintTrace(run);
  }
  if (options.dmidecode) {
    std::error_code ignored;
    std::string dumpPath = (std::filesystem::temp_directory_path(ignored) / "boardsim-XXXXXX").string();
    int descriptor = mkstemp(dumpPath.data());
    if (descriptor < 0) {
      std::fprintf(stderr, "boardsim: cannot make a temporary dump file\n");
      return 1;
    }
    close(descriptor);
    bool written = WriteFile(dumpPath, run.dump);
    sim::DmidecodeResult decoded;
    if (written) decoded = sim::RunDmidecode(dumpPath);
    unlink(dumpPath.c_str());
    if (!written) {
      std::fprintf(stderr, "boardsim: cannot write a temporary dump\n");
      return 1;
    }
    std::printf("\n%s", decoded.output.c_str());
    if (decoded.exitStatus != 0) return 1;
  }
  return 0;
}
