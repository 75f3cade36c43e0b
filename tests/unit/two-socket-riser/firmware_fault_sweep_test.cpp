// Every firmware service the driver calls made to fail, at each of the calls a
// clean run makes: the run must end with nothing leaked, a sound table, no
// earlier record lost without a replacement, the status the rules give, and
// no more damage than the one failed call explains. The SMBIOS table's own
// failures are swept as a board file gives them.
#include <gtest/gtest.h>

#include <cctype>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/dmidecode.h"
#include "sim/status_names.h"
#include "smbios/table_access.h"
#include "tests/fuzz/driver_run.h"

namespace {

using reliability::Designation;
using reliability::DriverRun;
using reliability::Shape;

// What one failed call may cost, beyond the checks every run passes.
enum class Effect {
  LoadFails,         // the entry point gives up before touching anything
  NoStrings,         // every record is added without a designation
  OneStringAtMost,   // at most one record loses its own designation
  SameRecords,       // records exactly as in the clean run
  OneRecordMissing,  // the record of that add is missing
  AtMostOneMissing,  // a record's add may be lost with its locate
  OneRecordDiffers,  // one PCI read fails: at most one record's fields differ
  NothingAnswers,    // no PCI function can be reached at all
};

struct Service {
  const char *name;
  EFI_STATUS status;  // what the failed call answers
  Effect effect;
};

const Service kServices[] = {
    {"HandleProtocol", EFI_UNSUPPORTED, Effect::LoadFails},
    {"LocateProtocol:RegisterAccess", EFI_NOT_FOUND, Effect::NothingAnswers},
    {"LocateProtocol:HiiString", EFI_NOT_FOUND, Effect::NoStrings},
    {"LocateProtocol:HiiDatabase", EFI_NOT_FOUND, Effect::NoStrings},
    {"NewPackageList", EFI_OUT_OF_RESOURCES, Effect::NoStrings},
    {"GetVariable", EFI_DEVICE_ERROR, Effect::SameRecords},
    {"GetLanguages", EFI_DEVICE_ERROR, Effect::OneStringAtMost},
    {"GetString", EFI_DEVICE_ERROR, Effect::OneStringAtMost},
    {"LocateProtocol:Smbios", EFI_NOT_FOUND, Effect::AtMostOneMissing},
    {"Smbios.Add", EFI_OUT_OF_RESOURCES, Effect::OneRecordMissing},
    {"Smbios.Remove", EFI_DEVICE_ERROR, Effect::SameRecords},
    {"Smbios.GetNext", EFI_DEVICE_ERROR, Effect::SameRecords},
    {"RegisterAccess.ConfigSpaceAddress", EFI_SUCCESS, Effect::OneRecordDiffers},
};

const char *const kBoardFiles[] = {"default", "earlier-records", "no-risers", "riser-ids/ids-3"};

reliability::SweepTally gTally("firmware_fault_sweep");

class FirmwareFaultSweep : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    std::string error;
    std::string path = std::string(SOURCE_DIR) + "/boards/" + GetParam() + ".json";
    ASSERT_TRUE(sim::LoadBoardFile(path, board_, error)) << error;
    clean_ = Run(nullptr);
    ASSERT_EQ(clean_.status, EFI_SUCCESS);
    ASSERT_FALSE(clean_.added.empty());
  }

  void TearDown() override {
    std::cout << "[ totals   ] after " << GetParam() << ": " << gTally.Summary() << "\n";
    RecordProperty("runs", std::to_string(gTally.runs));
    RecordProperty("faults_injected", std::to_string(gTally.faults));
    RecordProperty("records_checked", std::to_string(gTally.records));
  }

  // The board's faults count the driver's calls only, so arm's plan does too.
  DriverRun Run(const std::function<void(sim::SimulatedBoard &)> &arm) { return Run(arm, board_); }
  DriverRun Run(const std::function<void(sim::SimulatedBoard &)> &arm, const sim::Board &board) {
    DriverRun run = reliability::RunDriver(board, arm);
    EXPECT_EQ(gTally.Check(run), "");
    return run;
  }

  // How many records differ from the clean run in fields, and in designation.
  // Whenever the records pair up, none carries a designation other than its
  // own or none.
  void CountDifferences(const DriverRun &run, size_t *fields, size_t *designations) const {
    *fields = *designations = 0;
    for (size_t i = 0; i < run.added.size() && i < clean_.added.size(); i++) {
      *fields += Shape(run.added[i]) != Shape(clean_.added[i]);
      bool own = Designation(run.added[i]) == Designation(clean_.added[i]);
      *designations += !own;
      if (run.added.size() == clean_.added.size() && !own) {
        EXPECT_EQ(Designation(run.added[i]), "") << "record " << i << " named after another";
      }
    }
  }

  // Records of the run equal the clean run's with at most `missing` left out.
  bool IsCleanMinus(const DriverRun &run, size_t missing) const {
    if (run.added.size() + missing != clean_.added.size()) return false;
    size_t at = 0;
    for (const sim::SmbiosRecord &expected : clean_.added) {
      if (at < run.added.size() && Shape(run.added[at]) == Shape(expected) &&
          Designation(run.added[at]) == Designation(expected)) {
        at++;
      }
    }
    return at == run.added.size();
  }

  void ExpectEffect(const Service &service, const DriverRun &run) {
    size_t fields = 0, designations = 0;
    CountDifferences(run, &fields, &designations);
    switch (service.effect) {
      case Effect::LoadFails:
        EXPECT_TRUE(run.added.empty());
        EXPECT_FALSE(run.packageRegistered);
        EXPECT_EQ(run.after.size(), run.before.size());
        break;
      case Effect::NoStrings:
        ASSERT_EQ(run.added.size(), clean_.added.size());
        EXPECT_EQ(fields, 0u);
        for (const sim::SmbiosRecord &record : run.added) EXPECT_EQ(Designation(record), "");
        break;
      case Effect::OneStringAtMost:
        ASSERT_EQ(run.added.size(), clean_.added.size());
        EXPECT_EQ(fields, 0u);
        EXPECT_LE(designations, 1u);
        break;
      case Effect::SameRecords:
        EXPECT_TRUE(IsCleanMinus(run, 0));
        break;
      case Effect::OneRecordMissing:
        EXPECT_TRUE(IsCleanMinus(run, 1));
        break;
      case Effect::AtMostOneMissing:
        EXPECT_TRUE(IsCleanMinus(run, 0) || IsCleanMinus(run, 1));
        break;
      case Effect::OneRecordDiffers:
        ASSERT_EQ(run.added.size(), clean_.added.size());
        EXPECT_LE(fields, 1u);
        EXPECT_EQ(designations, 0u);
        break;
      case Effect::NothingAnswers:
        ASSERT_EQ(run.added.size(), clean_.added.size());
        EXPECT_EQ(designations, 0u);
        for (const sim::SmbiosRecord &record : run.added) {
          const std::vector<uint8_t> &b = record.bytes;
          if (record.Type() == SMBIOS_TYPE_SYSTEM_SLOTS) {
            EXPECT_EQ(b[7], SlotUsageAvailable);
            EXPECT_EQ(b[15], 0xFF);  // the bus word reads all ones
          } else {
            EXPECT_EQ(b[5] & ONBOARD_DEVICE_ENABLED, 0);
          }
        }
        break;
    }
  }

  sim::Board board_;
  DriverRun clean_;
};

TEST_P(FirmwareFaultSweep, EachCallOfEachServiceFailsInTurn) {
  for (const Service &service : kServices) {
    uint64_t calls = clean_.calls(service.name);
    // The default board's run reaches every service but Remove (nothing to purge).
    if (std::string(service.name) != "Smbios.Remove" ||
        std::string(GetParam()) == "earlier-records") {
      EXPECT_GT(calls, 0u) << service.name;
    }
    for (uint64_t k = 1; k <= calls; k++) {
      SCOPED_TRACE(std::string(service.name) + " call " + std::to_string(k) + " of " +
                   std::to_string(calls));
      DriverRun run = Run([&](sim::SimulatedBoard &simulated) {
        simulated.firmware.faults.FailCall(service.name, k, service.status);
      });
      EXPECT_EQ(run.faultsInjected, 1u);
      // The entry point returns what adding the last device returned.
      bool lastAdd = std::string(service.name) == "Smbios.Add" && k == calls;
      EXPECT_EQ(sim::StatusName(run.status),
                sim::StatusName(service.effect == Effect::LoadFails || lastAdd ? service.status
                                                                                : EFI_SUCCESS));
      ExpectEffect(service, run);
    }
  }
}

// The SMBIOS table's failures a board file can give, N swept over the calls
// (or the records GetNext gives) of the clean run.
struct TableFault {
  const char *key;
  std::optional<uint64_t> sim::BoardFaults::*member;
  const char *counted;  // the service whose clean-run calls N sweeps
  uint64_t first;       // the least N
  enum { None, One, Onward } refuses;  // the adds the table refuses: none, the N-th, from the N-th
};

const TableFault kTableFaults[] = {
    {"addFails", &sim::BoardFaults::addFails, "Smbios.Add", 1, TableFault::One},
    {"addFailsFrom", &sim::BoardFaults::addFailsFrom, "Smbios.Add", 1, TableFault::Onward},
    {"removeFails", &sim::BoardFaults::removeFails, "Smbios.Remove", 1, TableFault::None},
    {"getNextFailsAfter", &sim::BoardFaults::getNextFailsAfter, sim::kGetNextRecord, 0,
     TableFault::None},
};

// Whether each Add call of a run, in order, was accepted.
std::vector<bool> AddOutcomes(const sim::CallLog &log) {
  std::vector<bool> accepted;
  for (const sim::LogEntry &entry : log.Entries()) {
    if (entry.Is("Smbios.Add")) accepted.push_back(entry.status == EFI_SUCCESS);
  }
  return accepted;
}

std::vector<uint8_t> WithoutHandle(const sim::SmbiosRecord &record) {
  std::vector<uint8_t> bytes = record.bytes;
  bytes[2] = bytes[3] = 0;
  return bytes;
}

// Whatever the table refuses, the driver makes the same calls: every record
// the table accepted is the clean run's for that add, byte for byte; every
// earlier record that no Remove took out is there under its handle (the
// soundness check); and the entry point fails exactly when the last device's
// add did.
TEST_P(FirmwareFaultSweep, EveryTableFailureOfABoardFileAtEachCall) {
  const uint64_t adds = clean_.calls("Smbios.Add");
  for (const TableFault &fault : kTableFaults) {
    for (uint64_t n = fault.first; n < fault.first + clean_.calls(fault.counted); n++) {
      SCOPED_TRACE(std::string("faults.") + fault.key + " = " + std::to_string(n));
      sim::Board board = board_;
      board.faults.*fault.member = n;
      DriverRun run = Run(nullptr, board);
      EXPECT_GE(run.faultsInjected, 1u);
      std::vector<bool> accepted = AddOutcomes(run.log);
      ASSERT_EQ(accepted.size(), adds);
      size_t at = 0;
      for (uint64_t k = 1; k <= adds; k++) {
        bool refused = (fault.refuses == TableFault::One && k == n) ||
                       (fault.refuses == TableFault::Onward && k >= n);
        EXPECT_EQ(accepted[k - 1], !refused) << "add " << k;
        if (!accepted[k - 1] || at >= run.added.size()) continue;
        EXPECT_EQ(WithoutHandle(run.added[at++]), WithoutHandle(clean_.added[k - 1])) << "add " << k;
      }
      EXPECT_EQ(at, run.added.size());
      EXPECT_EQ(sim::StatusName(run.status),
                sim::StatusName(accepted.back() ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES));
    }
  }
}

TEST_P(FirmwareFaultSweep, WithoutTheSmbiosProtocolNothingIsTouched) {
  DriverRun run = Run([](sim::SimulatedBoard &simulated) {
    simulated.firmware.faults.FailAlways("LocateProtocol:Smbios", EFI_NOT_FOUND);
  });
  // The adds fail with the lookup's status, and so does the run.
  EXPECT_EQ(sim::StatusName(run.status), "EFI_NOT_FOUND");
  EXPECT_TRUE(run.added.empty());
  EXPECT_EQ(run.after.size(), run.before.size());
  EXPECT_EQ(run.calls("Smbios.Add") + run.calls("Smbios.GetNext") + run.calls("Smbios.Remove"), 0u);
}

TEST_P(FirmwareFaultSweep, APurgeEndsWhenGetNextNeverReportsTheEnd) {
  DriverRun run =
      Run([](sim::SimulatedBoard &simulated) { simulated.smbios.SetGetNextNeverEnds(true); });
  EXPECT_EQ(sim::StatusName(run.status), "EFI_SUCCESS");
  EXPECT_TRUE(IsCleanMinus(run, 0));
  // Every earlier slot and device record is gone all the same, and the walks
  // stayed within the handle space.
  for (const sim::SmbiosRecord &record : run.after) {
    bool added = false;
    for (const sim::SmbiosRecord &own : run.added) added = added || own.handle == record.handle;
    EXPECT_TRUE(added || (record.Type() != 9 && record.Type() != 41)) << record.handle;
  }
  EXPECT_LE(run.calls("Smbios.GetNext"), 4 * (SMBIOS_MAX_RECORDS + 1));
}

INSTANTIATE_TEST_SUITE_P(Boards, FirmwareFaultSweep, ::testing::ValuesIn(kBoardFiles),
                         [](const ::testing::TestParamInfo<const char *> &param) {
                           std::string name = param.param;
                           name = name.substr(name.rfind('/') + 1);
                           for (char &c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
