// One run of the whole driver on a simulated board, with what the checks of
// table_checks.h need to judge it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "include/guids.h"

#include "sim/simulated_board.h"
#include "tests/fuzz/table_checks.h"
#include "tests/scratch_directory.h"

namespace reliability {

// The services a fault plan can fail, whose calls a run counts.
inline constexpr const char *kCountedServices[] = {
    "AllocatePool",        "HandleProtocol",           "GetVariable",
    "LocateProtocol:Smbios", "LocateProtocol:HiiString", "LocateProtocol:HiiDatabase",
    "LocateProtocol:RegisterAccess", "NewPackageList", "GetLanguages",
    "GetString",           "Smbios.Add",               "Smbios.Remove",
    "Smbios.GetNext",      sim::kGetNextRecord,        "RegisterAccess.ConfigSpaceAddress"};
constexpr size_t kCountedServiceCount = sizeof(kCountedServices) / sizeof(kCountedServices[0]);

struct DriverRun {
  EFI_STATUS status = EFI_SUCCESS;
  std::vector<uint8_t> riserIds;  // as the pads read before the run, one per position
  std::vector<sim::SmbiosRecord> before;  // the table as the driver found it
  std::vector<sim::SmbiosRecord> after;   // and as it left it
  std::vector<sim::SmbiosRecord> added;   // the driver's records, in order of adding
  std::vector<uint8_t> dump;
  sim::CallLog log;
  size_t outstanding = 0;
  std::string leaks;  // the pool's report, when anything is outstanding
  std::vector<std::string> poolErrors;
  bool packageRegistered = false;
  uint64_t faultsInjected = 0;
  std::string addedProblem;  // an added record no longer in the table
  uint64_t serviceCalls[kCountedServiceCount] = {};

  // Calls per fault-injection name during the run.
  uint64_t calls(std::string_view name) const {
    for (size_t i = 0; i < kCountedServiceCount; i++) {
      if (name == kCountedServices[i]) return serviceCalls[i];
    }
    return 0;
  }
};

// Builds the board, lets `arm` set up faults on it, starts the driver once.
inline DriverRun RunDriver(const sim::Board &board,
                           const std::function<void(sim::SimulatedBoard &)> &arm) {
  sim::SimulatedBoard simulated(board);
  DriverRun run;
  run.before = simulated.smbios.Records();
  if (arm) arm(simulated);
  sim::RunResult result = simulated.Run();
  run.status = result.status;
  run.riserIds = result.riserIds;
  run.after = simulated.smbios.Records();
  run.log = std::move(simulated.firmware.log);
  run.added = RecordsByHandle(run.after, AddedHandles(run.log), &run.addedProblem);
  run.dump = simulated.smbios.DumpImage();
  run.outstanding = simulated.firmware.pool.Outstanding();
  if (run.outstanding != 0) run.leaks = simulated.firmware.pool.LeakReport();
  run.poolErrors = simulated.firmware.pool.Errors();
  run.packageRegistered = result.packageListRegistered;
  run.faultsInjected = simulated.firmware.faults.FaultsInjected();
  for (size_t i = 0; i < kCountedServiceCount; i++) {
    run.serviceCalls[i] = simulated.firmware.faults.Calls(kCountedServices[i]);
  }
  return run;
}

// Everything that must hold after any run, whatever failed: the driver
// finished, released every allocation, freed nothing twice, left a well-formed
// table holding its records, and lost nothing it could not replace.
inline std::string CheckRunIsSound(const DriverRun &run, size_t *structures) {
  if (run.outstanding != 0) {
    return std::to_string(run.outstanding) + " allocations outstanding:\n" + run.leaks;
  }
  if (!run.poolErrors.empty()) return "pool error: " + run.poolErrors.front();
  if (!run.addedProblem.empty()) return run.addedProblem;
  std::string problem = CheckDump(run.dump, structures);
  if (!problem.empty()) return "table: " + problem;
  for (const sim::SmbiosRecord &record : run.added) {
    problem = CheckDriverRecord(record);
    if (!problem.empty()) return "driver record " + Hex(record.handle) + ": " + problem;
  }
  return CheckEarlierRecords(run.before, run.after, run.added, run.log);
}

// The entry point's status as the driver's rules give it, read from what the
// run's log shows happened: a failed loaded-image lookup returns its status;
// a refresh without its record buffer returns EFI_OUT_OF_RESOURCES; otherwise
// the status of adding the last device: that of the SMBIOS lookup when it
// failed, else Add's own.
inline EFI_STATUS StatusByTheRules(const sim::CallLog &log) {
  bool recordBufferSeen = false;
  EFI_STATUS last = EFI_SUCCESS;
  for (const sim::LogEntry &entry : log.Entries()) {
    bool loadedImage = entry.Is("HandleProtocol") &&
                       GuidsEqual(entry.guid, gEfiLoadedImageProtocolGuid);
    if (loadedImage && entry.status != EFI_SUCCESS) return entry.status;
    if (!recordBufferSeen && entry.Is("AllocatePool") && entry.values[0] == 768) {
      recordBufferSeen = true;
      if (entry.status != EFI_SUCCESS) return EFI_OUT_OF_RESOURCES;
    }
    if (entry.Is("Smbios.Add")) last = entry.status;
    if (entry.Is("LocateProtocol") && GuidsEqual(entry.guid, gEfiSmbiosProtocolGuid)) {
      last = entry.status;
    }
  }
  return last;
}

// Writes the table dump to `path` and has the real dmidecode decode it; the
// problem it shows, or "" when it decodes cleanly or is not installed.
inline std::string DmidecodeProblem(const std::vector<uint8_t> &dump, size_t structures,
                                    const std::string &path) {
  if (sim::DmidecodePath().empty()) return "";
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "cannot write " + path;
  bool written = std::fwrite(dump.data(), 1, dump.size(), file) == dump.size();
  if (std::fclose(file) != 0 || !written) return "cannot write " + path;
  sim::DmidecodeResult decoded = sim::RunDmidecode(path);
  std::string problem = CheckDmidecodeOutput(decoded.output, decoded.exitStatus, structures);
  return problem.empty() ? "" : problem + "\n" + decoded.output;
}

// Runs the real dmidecode once on every distinct table a suite produces; a
// sweep makes many runs that leave the same table behind.
class DistinctTableDecoder {
 public:
  // Dumps go to NAME.bin in the process's own scratch directory.
  explicit DistinctTableDecoder(const std::string &name) : name_(name + ".bin") {}

  // The problem dmidecode shows with a table not seen before, or "".
  std::string Check(const std::vector<uint8_t> &dump, size_t structures) {
    if (sim::DmidecodePath().empty() || !seen_.emplace(dump.begin(), dump.end()).second) return "";
    decoded_++;
    return DmidecodeProblem(dump, structures, testing_support::ScratchPath(name_));
  }
  uint64_t Decoded() const { return decoded_; }

 private:
  std::string name_;
  // Kept as strings: g++ 12 at -O3 misreads comparing byte vectors as an overread.
  std::unordered_set<std::string> seen_;
  uint64_t decoded_ = 0;
};

// A fault sweep's judge: every run checked for soundness and its distinct
// tables decoded by dmidecode, with totals over the whole suite.
class SweepTally {
 public:
  explicit SweepTally(const std::string &name) : decoder_(name) {}

  // The problems with the run, "" when it is sound and decodes cleanly.
  std::string Check(const DriverRun &run) {
    size_t counted = 0;
    std::string problem = CheckRunIsSound(run, &counted);
    std::string decoded = decoder_.Check(run.dump, counted);
    runs++;
    faults += run.faultsInjected;
    records += run.added.size();
    structures += counted;
    if (problem.empty()) return decoded;
    return decoded.empty() ? problem : problem + "\n" + decoded;
  }

  std::string Summary() const {
    return std::to_string(runs) + " runs, " + std::to_string(faults) + " faults injected, " +
           std::to_string(records) + " driver records and " + std::to_string(structures) +
           " structures checked, " + std::to_string(decoder_.Decoded()) +
           " distinct tables decoded by dmidecode";
  }

  uint64_t runs = 0, faults = 0, records = 0, structures = 0;

 private:
  DistinctTableDecoder decoder_;
};

// A record's formatted area without the fields a run may legitimately vary
// in: the handle the table assigned and the designation's string number.
inline std::vector<uint8_t> Shape(const sim::SmbiosRecord &record) {
  std::vector<uint8_t> shape(record.bytes.begin(), record.bytes.begin() + record.Length());
  shape[2] = shape[3] = 0;
  shape[RECORD_DESIGNATION_OFFSET] = 0;
  return shape;
}

// The record's designation, or "" when it carries none.
inline std::string Designation(const sim::SmbiosRecord &record) {
  std::vector<std::string> strings = record.Strings();
  return strings.empty() ? std::string() : strings.front();
}

}  // namespace reliability
