// boardsim: runs the real driver entry point in the firmware simulator on a
// described board and shows the SMBIOS records it wrote.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "include/smbios_records.h"
#include "sim/board.h"
#include "sim/board_picture.h"
#include "sim/dmidecode.h"
#include "sim/simulated_board.h"
#include "sim/status_names.h"
#include "sim/table_compare.h"
#include "sim/table_dump.h"

namespace {

constexpr int kExitBadUsage = 2;

const char kUsage[] =
    "usage: boardsim BOARD.json [options]\n"
    "  --dmidecode      print the real dmidecode decoding of the resulting table\n"
    "  --dump FILE      write the table in dmidecode's binary dump format\n"
    "  --compare TABLE  compare a machine's table (dmidecode --dump-bin) with the driver's records;\n"
    "                   exit 0 when they agree, 1 when they differ, 2 when either cannot be read\n"
    "  --json           print the records as JSON (raw bytes and decoded fields)\n"
    "  --svg FILE       draw the board as the driver saw it, as an SVG picture\n"
    "  --trace          list, per record, the pad reads, PCI probes and firmware calls behind it\n"
    "  --riser1 N, --riser2 N, --riser3 N   override the board's riser identifiers\n"
    "  --lang TAG       override PlatformLang (\"none\" for no variable)\n"
    "  --help, --version\n";

struct Options {
  std::string boardPath;
  bool dmidecode = false;
  bool json = false;
  bool trace = false;
  std::string dumpPath;
  std::string svgPath;
  std::string comparePath;
  int riser[3] = {-1, -1, -1};
  std::optional<std::string> lang;
};

bool ParseNumberArgument(const char *text, int maximum, int *value) {
  char *end = nullptr;
  long number = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || number < 0 || number > maximum) return false;
  *value = static_cast<int>(number);
  return true;
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
    } else if (argument == "--riser1" || argument == "--riser2" || argument == "--riser3") {
      int index = argument.back() - '1';
      const char *text = value(argument.c_str());
      if (text == nullptr) return false;
      int maximum = index == 2 ? 3 : 7;
      if (!ParseNumberArgument(text, maximum, &options.riser[index])) {
        error = argument + ": must be a number from 0 to " + std::to_string(maximum);
        return false;
      }
    } else if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (argument == "--version") {
      std::printf("boardsim %s\n", PROJECT_VERSION);
      std::exit(0);
    } else if (!argument.empty() && argument[0] == '-') {
      error = "unknown option " + argument;
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
  if (options.riser[0] >= 0) board.riser1 = static_cast<uint8_t>(options.riser[0]);
  if (options.riser[1] >= 0) board.riser2 = static_cast<uint8_t>(options.riser[1]);
  if (options.riser[2] >= 0) board.riser3 = static_cast<uint8_t>(options.riser[2]);
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

std::string SlotShapeName(uint8_t slotType, uint8_t width) {
  std::string name = slotType == SlotTypePciExpressGen3X16 ? "PCIe Gen3 x16 slot"
                     : slotType == SlotTypePciExpressGen3X8 ? "PCIe Gen3 x8 slot"
                                                          : "slot type " + std::to_string(slotType);
  name += width == SlotDataBusWidth16X ? ", x16 bus"
          : width == SlotDataBusWidth8X  ? ", x8 bus"
                                         : ", width " + std::to_string(width);
  return name;
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

void PrintTable(const sim::Board &board, const sim::BoardRun &run) {
  std::printf("board: %s\n", board.name.empty() ? "(unnamed)" : board.name.c_str());
  std::printf("riser identifiers: riser 1 = %u, riser 2 = %u, riser 3 = %u\n", run.result.riser1,
              run.result.riser2, run.result.riser3);
  std::printf("driver status: %s\n", sim::StatusName(run.result.status).c_str());
  std::printf("records written: %zu\n\n", run.added.size());
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

void PrintTrace(const sim::BoardRun &run) {
  std::printf("\ntrace (firmware calls and hardware reads, grouped by the record they led to):\n");
  size_t record = 0;
  std::vector<std::string> pending;
  for (const std::string &entry : run.log) {
    pending.push_back(entry);
    bool added = entry.rfind("Smbios.Add", 0) == 0 && entry.find("-> EFI_SUCCESS") != std::string::npos;
    if (added && record < run.added.size()) {
      RecordView view = Decode(run.added[record]);
      std::printf("\n-- record %zu: type %u, %s \"%s\" (%s)\n", record + 1, run.added[record].Type(),
                  view.kind.c_str(), view.designation.c_str(), view.state.c_str());
      for (const std::string &line : pending) std::printf("   %s\n", line.c_str());
      pending.clear();
      record++;
    }
  }
  if (!pending.empty()) {
    std::printf("\n-- after the last record\n");
    for (const std::string &line : pending) std::printf("   %s\n", line.c_str());
  }
}

nlohmann::json RecordsJson(const sim::Board &board, const sim::BoardRun &run) {
  nlohmann::json out;
  out["board"] = board.name;
  out["status"] = sim::StatusName(run.result.status);
  out["riserIds"] = {run.result.riser1, run.result.riser2, run.result.riser3};
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

}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "boardsim: %s\n%s", error.c_str(), kUsage);
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
