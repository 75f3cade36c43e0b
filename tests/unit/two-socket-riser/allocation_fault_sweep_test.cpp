// Every pool allocation of a whole run made to fail, alone and from there on:
// each run must end with nothing leaked, a sound table, no earlier record
// lost without a replacement, and the status the refresh's rules give.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/dmidecode.h"
#include "sim/status_names.h"
#include "tests/fuzz/driver_run.h"

namespace {

using reliability::DriverRun;

struct SweepBoard {
  const char *name;
  const char *file;
  bool withoutPlatformLang;
};

const SweepBoard kBoards[] = {
    {"default", "boards/default.json", false},
    {"no_risers", "boards/no-risers.json", false},
    {"earlier_records", "boards/earlier-records.json", false},
    {"riser_ids_2", "boards/riser-ids/ids-2.json", false},
    {"riser_ids_6", "boards/riser-ids/ids-6.json", false},
    {"default_without_platform_lang", "boards/default.json", true},
};

void PrintTo(const SweepBoard &board, std::ostream *out) { *out << board.name; }

sim::Board LoadSweepBoard(const SweepBoard &entry) {
  sim::Board board;
  std::string error;
  EXPECT_TRUE(sim::LoadBoardFile(std::string(SOURCE_DIR) + "/" + entry.file, board, error))
      << error;
  if (entry.withoutPlatformLang) board.platformLang.reset();
  return board;
}

// Which allocation of a clean run serves what, read from its log: the first
// 768-byte allocation is the refresh's record buffer (only the package list
// comes before it); a 768-byte allocation right after the strap pad reads is
// a riser routine's buffer.
struct AllocationMap {
  uint64_t count = 0;
  uint64_t refreshBuffer = 0;
  std::vector<uint64_t> riserBuffers;  // in riser order
};

AllocationMap MapAllocations(const std::vector<std::string> &log) {
  AllocationMap map;
  std::string previous;
  for (const std::string &entry : log) {
    if (entry.rfind("AllocatePool(", 0) == 0) {
      map.count++;
      if (entry.rfind("AllocatePool(768)", 0) == 0) {
        if (map.refreshBuffer == 0) {
          map.refreshBuffer = map.count;
        } else if (previous.rfind("Sideband.Read", 0) == 0) {
          map.riserBuffers.push_back(map.count);
        }
      }
    }
    previous = entry;
  }
  return map;
}

// Riser of a driver Type 9 record by its Slot ID (0 for the mezzanine slots
// and for Type 41 records).
int RiserOf(const sim::SmbiosRecord &record) {
  if (record.Type() != SMBIOS_TYPE_SYSTEM_SLOTS) return 0;
  unsigned id = record.bytes[9] | record.bytes[10] << 8;
  if (id >= 1 && id <= 3) return 1;
  if (id >= 4 && id <= 6) return 2;
  if (id >= 7 && id <= 8) return 3;
  return 0;
}

// Totals over the whole suite, shown when it ends.
reliability::SweepTally gTally("allocation_fault_sweep");

class AllocationFaultSweep : public ::testing::TestWithParam<SweepBoard> {
 protected:
  DriverRun Run(const std::function<void(sim::FaultPlan &)> &arm) {
    DriverRun run = reliability::RunDriver(board_, [&](sim::SimulatedBoard &simulated) {
      if (arm) arm(simulated.firmware.faults);
    });
    EXPECT_EQ(gTally.Check(run), "");
    return run;
  }

  // The clean run's added records with the records of the dropped risers left out.
  std::vector<sim::SmbiosRecord> ExpectedRecords(const std::set<int> &droppedRisers) const {
    std::vector<sim::SmbiosRecord> expected;
    for (const sim::SmbiosRecord &record : clean_.added) {
      if (droppedRisers.count(RiserOf(record)) == 0) expected.push_back(record);
    }
    return expected;
  }

  // The records match the expected ones field for field; each carries its own
  // designation or none, never one left in a riser's shared buffer by the
  // slot before (mezzanine and device records start from a zero-filled
  // buffer, riser slots do not). Returns how many lack their own.
  size_t CompareRecords(const DriverRun &run, const std::vector<sim::SmbiosRecord> &expected) {
    EXPECT_EQ(run.added.size(), expected.size());
    size_t notOwn = 0;
    for (size_t i = 0; i < run.added.size() && i < expected.size(); i++) {
      const sim::SmbiosRecord &record = run.added[i];
      SCOPED_TRACE("record " + std::to_string(i));
      EXPECT_EQ(reliability::Shape(record), reliability::Shape(expected[i]));
      std::string designation = reliability::Designation(record);
      if (designation == reliability::Designation(expected[i])) continue;
      notOwn++;
      EXPECT_EQ(designation, "") << "a designation not the record's own";
    }
    return notOwn;
  }

  void SetUp() override {
    board_ = LoadSweepBoard(GetParam());
    clean_ = Run(nullptr);
    ASSERT_EQ(clean_.status, EFI_SUCCESS);
    ASSERT_FALSE(clean_.added.empty());
    map_ = MapAllocations(clean_.log);
    ASSERT_EQ(map_.count, clean_.calls("AllocatePool"));
    ASSERT_GT(map_.refreshBuffer, 0u);
    // Every riser the straps call for takes a buffer of its own.
    const uint8_t noCard[] = {7, 7, 3};
    for (int riser = 1; riser <= 3; riser++) {
      if (clean_.riserIds.at(riser - 1) != noCard[riser - 1]) riserNumbers_.push_back(riser);
    }
    ASSERT_EQ(map_.riserBuffers.size(), riserNumbers_.size());
  }

  void TearDown() override {
    std::cout << "[ totals   ] after " << GetParam().name << ": " << gTally.Summary() << "\n";
    RecordProperty("runs", std::to_string(gTally.runs));
    RecordProperty("faults_injected", std::to_string(gTally.faults));
    RecordProperty("records_checked", std::to_string(gTally.records));
  }

  sim::Board board_;
  DriverRun clean_;
  AllocationMap map_;
  std::vector<int> riserNumbers_;  // risers whose routine runs, matching map_.riserBuffers
};

TEST_P(AllocationFaultSweep, FailingOneAllocationCostsAtMostThatAllocationsWork) {
  for (uint64_t k = 1; k <= map_.count; k++) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(map_.count));
    DriverRun run = Run(
        [&](sim::FaultPlan &faults) { faults.FailCall("AllocatePool", k, EFI_OUT_OF_RESOURCES); });
    EXPECT_EQ(run.faultsInjected, 1u);
    if (k == map_.refreshBuffer) {
      // Nothing could be built: the earlier records stay, untouched.
      EXPECT_EQ(sim::StatusName(run.status), "EFI_OUT_OF_RESOURCES");
      EXPECT_TRUE(run.added.empty());
      EXPECT_EQ(run.after.size(), run.before.size());
      EXPECT_EQ(reliability::CheckEarlierRecords(run.before, run.after, {}, run.log), "");
      continue;
    }
    EXPECT_EQ(sim::StatusName(run.status), "EFI_SUCCESS");
    std::set<int> dropped;
    for (size_t i = 0; i < map_.riserBuffers.size(); i++) {
      if (map_.riserBuffers[i] == k) dropped.insert(riserNumbers_[i]);
    }
    size_t notOwn = CompareRecords(run, ExpectedRecords(dropped));
    if (k < map_.refreshBuffer) {
      // No package list: every record is added without a designation.
      EXPECT_FALSE(run.packageRegistered);
      EXPECT_EQ(notOwn, run.added.size());
    } else {
      EXPECT_LE(notOwn, 1u);
    }
  }
}

TEST_P(AllocationFaultSweep, FailingEveryAllocationFromOneOnStillEndsSoundly) {
  for (uint64_t k = 1; k <= map_.count; k++) {
    SCOPED_TRACE("allocations from " + std::to_string(k) + " of " + std::to_string(map_.count));
    DriverRun run = Run(
        [&](sim::FaultPlan &faults) { faults.FailFrom("AllocatePool", k, EFI_OUT_OF_RESOURCES); });
    EXPECT_GE(run.faultsInjected, 1u);
    if (k <= map_.refreshBuffer) {
      EXPECT_EQ(sim::StatusName(run.status), "EFI_OUT_OF_RESOURCES");
      EXPECT_TRUE(run.added.empty());
      EXPECT_EQ(run.after.size(), run.before.size());
      continue;
    }
    EXPECT_EQ(sim::StatusName(run.status), "EFI_SUCCESS");
    std::set<int> dropped;
    for (size_t i = 0; i < map_.riserBuffers.size(); i++) {
      if (map_.riserBuffers[i] >= k) dropped.insert(riserNumbers_[i]);
    }
    std::vector<sim::SmbiosRecord> expected = ExpectedRecords(dropped);
    CompareRecords(run, expected);
    // Once memory has run out no later record gets its own designation back.
    bool runOut = false;
    for (size_t i = 0; i < run.added.size() && i < expected.size(); i++) {
      bool own = reliability::Designation(run.added[i]) == reliability::Designation(expected[i]);
      EXPECT_FALSE(runOut && own && !reliability::Designation(expected[i]).empty())
          << "record " << i << " has its designation after allocations stopped";
      runOut = runOut || !own;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Boards, AllocationFaultSweep, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<SweepBoard> &param) {
                           return std::string(param.param.name);
                         });

}  // namespace
