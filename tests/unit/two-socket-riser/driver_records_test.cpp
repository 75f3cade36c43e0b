// The whole driver through its entry point in the simulator: the exact bytes
// of every record it adds, and the order of adding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "include/smbios_records.h"
#include "sim/simulated_board.h"
#include "sim/status_names.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSocket0 = 0x5D3A1700;  // groups 1, 2, 3 on buses 0x17, 0x3A, 0x5D
constexpr uint32_t kSocket1 = 0xD7AE8580;  // groups 1, 2, 3 on buses 0x85, 0xAE, 0xD7

Bytes WithString(Bytes formatted, const std::string &text) {
  if (text.empty()) {
    formatted.insert(formatted.end(), {0, 0});
  } else {
    formatted.insert(formatted.end(), text.begin(), text.end());
    formatted.insert(formatted.end(), {0, 0});
  }
  return formatted;
}

// A Type 9 record as the driver writes it; handle as the table stores it.
Bytes Slot(uint16_t handle, uint16_t slotId, bool x16, bool inUse, uint8_t bus, uint8_t devfn,
           const std::string &designation) {
  Bytes bytes = {9,
                 0x11,
                 static_cast<uint8_t>(handle),
                 static_cast<uint8_t>(handle >> 8),
                 static_cast<uint8_t>(designation.empty() ? 0 : 1),
                 static_cast<uint8_t>(x16 ? 0xB6 : 0xB5),
                 static_cast<uint8_t>(x16 ? 0x0D : 0x0B),
                 static_cast<uint8_t>(inUse ? 4 : 3),
                 4,
                 static_cast<uint8_t>(slotId),
                 static_cast<uint8_t>(slotId >> 8),
                 0x04,
                 0x05,
                 0,
                 0,
                 bus,
                 devfn};
  return WithString(bytes, designation);
}

Bytes Device(uint16_t handle, uint8_t type, uint8_t instance, uint8_t bus, uint8_t devfn,
             const std::string &designation) {
  Bytes bytes = {41,
                 0x0B,
                 static_cast<uint8_t>(handle),
                 static_cast<uint8_t>(handle >> 8),
                 static_cast<uint8_t>(designation.empty() ? 0 : 1),
                 type,
                 instance,
                 0,
                 0,
                 bus,
                 devfn};
  return WithString(bytes, designation);
}

class Driver : public ::testing::Test {
 protected:
  sim::Board BaseBoard() {
    sim::Board board;
    board.riserIds = {7, 7, 3};
    board.sockets[0] = kSocket0;
    board.sockets[1] = kSocket1;
    return board;
  }

  // Runs the driver and checks what every run must leave behind.
  sim::RunResult Run(sim::SimulatedBoard &simulated) {
    sim::RunResult result = simulated.Run();
    EXPECT_EQ(result.outstandingAllocations, 0u) << simulated.firmware.pool.LeakReport();
    EXPECT_TRUE(result.poolErrors.empty());
    return result;
  }

  std::vector<Bytes> AddedBytes(const sim::SimulatedBoard &simulated) {
    std::vector<Bytes> added;
    for (const sim::SmbiosRecord &record : simulated.AddedRecords()) added.push_back(record.bytes);
    return added;
  }

  // The records a checked run on board adds, for tests that need nothing else of the run.
  std::vector<Bytes> AddedBy(const sim::Board &board) {
    sim::SimulatedBoard simulated(board);
    Run(simulated);
    return AddedBytes(simulated);
  }

  std::vector<uint16_t> SlotIds(const sim::SimulatedBoard &simulated) {
    std::vector<uint16_t> ids;
    for (const sim::SmbiosRecord &record : simulated.AddedRecords())
      if (record.Type() == 9) ids.push_back(static_cast<uint16_t>(record.bytes[9] | record.bytes[10] << 8));
    return ids;
  }
};

TEST_F(Driver, NoRisersAndEmptyMezzaninesGiveTwoSlotsAndFiveDevices) {
  sim::Board board = BaseBoard();
  board.bridges = {{0x02, 0, 0x03}, {0x3A, 1, 0x3B}};  // video and network bridges, nothing behind
  board.devices = {{0, 0x17, 0}};                      // only the SATA controller answers
  sim::SimulatedBoard simulated(board);
  sim::RunResult result = Run(simulated);

  EXPECT_EQ(result.status, EFI_SUCCESS);
  EXPECT_TRUE(result.packageListRegistered);
  std::vector<Bytes> expected = {
      Slot(0, 17, false, false, 0x5D, 0x00, "MEZZANINE 0"),
      Slot(1, 18, false, false, 0x3A, 0x10, "MEZZANINE 1"),
      Device(2, 0x03, 0, 0x03, 0x00, "Aspeed Video"),
      Device(3, 0x05, 1, 0x3B, 0x00, "Intel I350"),
      Device(4, 0x05, 2, 0x3B, 0x01, "Intel I350"),
      Device(5, 0x89, 3, 0x00, 0xB8, "PCH Integrated SATA Controller"),
      Device(6, 0x09, 4, 0x00, 0x8D, "PCH Integrated sSATA Controller"),
  };
  EXPECT_EQ(AddedBytes(simulated), expected);
}

TEST_F(Driver, EarlierSlotAndDeviceRecordsAreReplacedOthersKept) {
  sim::Board board = BaseBoard();
  board.smbios = {{0, {"BIOS"}}, {9, {"PCIE1"}}, {17, {"DIMM"}}, {9, {"PCIE2"}},
                  {41, {"LAN"}}, {9, {"PCIE3"}}};
  sim::SimulatedBoard simulated(board);
  Run(simulated);

  std::vector<uint8_t> types;
  for (const sim::SmbiosRecord &record : simulated.smbios.Records()) types.push_back(record.Type());
  EXPECT_EQ(types, (std::vector<uint8_t>{0, 17, 9, 9, 41, 41, 41, 41, 41}));
  // The purged records' handles were given out again; all seven still count as the driver's.
  EXPECT_EQ(simulated.AddedRecords().size(), 7u);
  for (const sim::SmbiosRecord &record : simulated.smbios.RecordsOfType(9)) {
    EXPECT_NE(record.Strings().at(0).rfind("MEZZANINE", 0), std::string::npos);
  }
}

TEST_F(Driver, StatusIsThatOfAddingTheLastDevice) {
  sim::Board board = BaseBoard();
  for (uint64_t refused : {6u, 7u}) {
    // The table refusing an earlier record is not the entry point's to report;
    // refusing the last device's (add 7 of 7) is.
    board.faults.addFails = refused;
    sim::SimulatedBoard simulated(board);
    EXPECT_EQ(sim::StatusName(Run(simulated).status),
              sim::StatusName(refused == 7 ? EFI_OUT_OF_RESOURCES : EFI_SUCCESS));
    EXPECT_EQ(simulated.AddedRecords().size(), 6u);
  }
  board.faults.addFails.reset();
  {
    // No SMBIOS protocol: every add reports the lookup's status, and so does the entry point.
    board.faults.noSmbiosProtocol = true;
    sim::SimulatedBoard simulated(board);
    EXPECT_EQ(Run(simulated).status, EFI_NOT_FOUND);
    EXPECT_TRUE(simulated.AddedRecords().empty());
  }
}

TEST_F(Driver, RiserOneTwoSlotCardWithACardOnlyInTheSecondSlot) {
  sim::Board board = BaseBoard();
  board.riserIds[0] = 5;
  board.bridges = {{0x17, 0, 0x20}, {0x5D, 2, 0x21}};
  board.devices = {{0x21, 0, 0}};
  std::vector<Bytes> added = AddedBy(board);
  ASSERT_EQ(added.size(), 2u + 2u + 5u);
  EXPECT_EQ(added[2], Slot(2, 1, true, false, 0x17, 0x00, "Riser 1, slot 1"));
  EXPECT_EQ(added[3], Slot(3, 3, false, true, 0x5D, 0x10, "Riser 1, slot 2"));
}

TEST_F(Driver, RiserTwoThreeSlotCardWiring) {
  sim::Board board = BaseBoard();
  board.riserIds[1] = 3;
  board.bridges = {{0xAE, 2, 0x30}, {0xAE, 0, 0x31}, {0x85, 0, 0x32}};
  board.devices = {{0x31, 0, 0}};
  std::vector<Bytes> added = AddedBy(board);
  ASSERT_EQ(added.size(), 2u + 3u + 5u);
  EXPECT_EQ(added[2], Slot(2, 4, false, false, 0xAE, 0x10, "Riser 2, slot 1"));
  EXPECT_EQ(added[3], Slot(3, 5, false, true, 0xAE, 0x00, "Riser 2, slot 2"));
  EXPECT_EQ(added[4], Slot(4, 6, false, false, 0x85, 0x00, "Riser 2, slot 3"));
}

TEST_F(Driver, RiserThreeIdentifiersChooseNoneTwoOrOneSlot) {
  struct Case {
    uint8_t id;
    std::vector<uint16_t> slotIds;
  };
  for (const Case &c : {Case{0, {17, 18}}, Case{1, {17, 18, 7, 8}}, Case{2, {17, 18, 7}}}) {
    sim::Board board = BaseBoard();
    board.riserIds[2] = c.id;
    sim::SimulatedBoard simulated(board);
    Run(simulated);
    EXPECT_EQ(SlotIds(simulated), c.slotIds) << "riser 3 identifier " << int(c.id);
  }
  sim::Board board = BaseBoard();
  board.riserIds[2] = 2;
  EXPECT_EQ(AddedBy(board)[2], Slot(2, 7, true, false, 0xD7, 0x00, "Riser 3, slot 1"));
}

// Each identification reads the ownership and the configuration word of eight pads.
constexpr size_t kReadsPerIdentification = 16;

TEST_F(Driver, SkippingARiserRestsOnTheFirstReadingItsSlotCountOnTheSecond) {
  sim::Board board = BaseBoard();
  board.riserIds[1] = 3;
  {
    // Riser 1 reads 7 at first and 3 from then on: still skipped.
    sim::SimulatedBoard simulated(board);
    simulated.window.SetRiserStraps({7, 3, 3});
    simulated.window.SetAfterRead([](sim::SidebandWindow &window, size_t reads) {
      if (reads == kReadsPerIdentification) window.SetRiserStraps({3, 3, 3});
    });
    Run(simulated);
    EXPECT_EQ(SlotIds(simulated), (std::vector<uint16_t>{17, 18, 4, 5, 6}));
  }
  {
    // Riser 1 reads 3 at first and 5 from then on: two slots, from the second reading.
    sim::SimulatedBoard simulated(board);
    simulated.window.SetRiserStraps({3, 3, 3});
    simulated.window.SetAfterRead([](sim::SidebandWindow &window, size_t reads) {
      if (reads == kReadsPerIdentification) window.SetRiserStraps({5, 3, 3});
    });
    Run(simulated);
    EXPECT_EQ(SlotIds(simulated), (std::vector<uint16_t>{17, 18, 1, 3, 4, 5, 6}));
  }
}

TEST_F(Driver, SlotsOfOneRiserShareABufferYetEachCarriesOnlyItsOwnDesignation) {
  sim::Board board = BaseBoard();
  board.riserIds[0] = 3;
  sim::SimulatedBoard simulated(board);
  Run(simulated);
  std::vector<sim::SmbiosRecord> added = simulated.AddedRecords();
  const char *designations[] = {"Riser 1, slot 1", "Riser 1, slot 2", "Riser 1, slot 3"};
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(added[2 + i].Strings(), std::vector<std::string>{designations[i]});
    EXPECT_EQ(added[2 + i].bytes.size(), 0x11u + 15u + 2u);
  }
  // Three slots through one buffer: the designations were overwritten in place,
  // so only the first slot needed a scratch record.
}

TEST_F(Driver, WithoutTheStringPackageRecordsAreBuiltWithoutStrings) {
  sim::Board board = BaseBoard();
  board.faults.newPackageListFails = true;
  board.devices = {{0, 0x11, 5}};
  sim::SimulatedBoard simulated(board);
  sim::RunResult result = Run(simulated);
  EXPECT_EQ(result.status, EFI_SUCCESS);
  EXPECT_FALSE(result.packageListRegistered);
  std::vector<Bytes> added = AddedBytes(simulated);
  ASSERT_EQ(added.size(), 7u);
  EXPECT_EQ(added[0], Slot(0, 17, false, false, 0x5D, 0x00, ""));
  EXPECT_EQ(added[1], Slot(1, 18, false, false, 0x3A, 0x10, ""));
  EXPECT_EQ(added[6], Device(6, 0x89, 4, 0x00, 0x8D, ""));
}

TEST_F(Driver, NetworkControllerAbsentBehindItsRootPort) {
  sim::Board board = BaseBoard();
  board.bridges = {{0x3A, 1, 0x44}};
  std::vector<Bytes> added = AddedBy(board);
  EXPECT_EQ(added[3], Device(3, 0x05, 1, 0x44, 0x00, "Intel I350"));
  EXPECT_EQ(added[4], Device(4, 0x05, 2, 0x44, 0x01, "Intel I350"));
}

TEST_F(Driver, SecondNetworkPortIsEnabledByTheFirstFunctionAnswering) {
  sim::Board board = BaseBoard();
  board.bridges = {{0x3A, 1, 0x44}};
  board.devices = {{0x44, 0, 0}};  // function 1 does not answer
  std::vector<Bytes> added = AddedBy(board);
  EXPECT_EQ(added[3][5], 0x85);
  EXPECT_EQ(added[4][5], 0x85);
}

// ---- faults the driver survives ----

TEST_F(Driver, WithoutItsRecordBufferTheRefreshKeepsEarlierRecords) {
  sim::Board board = BaseBoard();
  board.smbios = {{9, {"PCIE1"}}, {41, {"LAN"}}};
  // Allocation 1 is the package list; 2 is the refresh's record buffer.
  board.faults.failAllocation = 2;
  sim::SimulatedBoard simulated(board);
  sim::RunResult result = Run(simulated);
  EXPECT_EQ(result.status, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(simulated.firmware.CountLog("Smbios.Remove"), 0u);
  EXPECT_EQ(simulated.smbios.Records().size(), 2u);
}

TEST_F(Driver, ARiserWhoseBufferCannotBeHadAddsNothingAndTheRunGoesOn) {
  sim::Board board = BaseBoard();
  board.riserIds = {3, 5, 3};
  // Find the riser 1 buffer: the first 768-byte allocation after the second mezzanine add.
  uint64_t riserBuffer = 0;
  {
    sim::SimulatedBoard probe(board);
    probe.Run();
    uint64_t allocations = 0;
    size_t adds = 0;
    for (const std::string &entry : probe.firmware.log) {
      if (entry.rfind("Smbios.Add", 0) == 0) adds++;
      if (entry.rfind("AllocatePool(", 0) == 0) {
        allocations++;
        if (adds == 2 && entry.rfind("AllocatePool(768)", 0) == 0) {
          riserBuffer = allocations;
          break;
        }
      }
    }
  }
  ASSERT_NE(riserBuffer, 0u);
  board.faults.failAllocation = riserBuffer;
  sim::SimulatedBoard simulated(board);
  EXPECT_EQ(Run(simulated).status, EFI_SUCCESS);
  EXPECT_EQ(SlotIds(simulated), (std::vector<uint16_t>{17, 18, 4, 6}));
}

TEST_F(Driver, MissingProtocolsAreNeverCalledThroughNull) {
  struct Case {
    const char *name;
    bool sim::BoardFaults::*fault;
  };
  const Case cases[] = {{"register access", &sim::BoardFaults::noRegisterAccess},
                        {"HII string", &sim::BoardFaults::noHiiString},
                        {"HII database", &sim::BoardFaults::noHiiDatabase},
                        {"SMBIOS", &sim::BoardFaults::noSmbiosProtocol}};
  for (const Case &c : cases) {
    sim::Board board = BaseBoard();
    board.riserIds[0] = 3;
    board.faults.*c.fault = true;
    sim::SimulatedBoard simulated(board);
    Run(simulated);
    SCOPED_TRACE(c.name);
    if (c.fault == &sim::BoardFaults::noRegisterAccess) {
      // Every PCI read gives all ones: slots Available on bus 0xFF, devices disabled.
      for (const sim::SmbiosRecord &record : simulated.AddedRecords()) {
        if (record.Type() == 9) {
          EXPECT_EQ(record.bytes[7], 3);
        } else {
          EXPECT_EQ(record.bytes[5] & 0x80, 0);
        }
      }
    }
  }
}

TEST_F(Driver, ALoadedImageLookupFailureTouchesNothing) {
  sim::Board board = BaseBoard();
  board.smbios = {{9, {"PCIE1"}}};
  sim::SimulatedBoard simulated(board);
  simulated.firmware.faults.FailCall("HandleProtocol", 1, EFI_UNSUPPORTED);
  EXPECT_EQ(Run(simulated).status, EFI_UNSUPPORTED);
  EXPECT_EQ(simulated.smbios.Records().size(), 1u);
  EXPECT_EQ(simulated.firmware.CountLog("Smbios."), 0u);
  EXPECT_TRUE(simulated.hii.PackageLists().empty());
}

// The shell's "load" hands the driver a file path that starts with a file-path
// node, often shorter than a GUID. The driver names its strings after what the
// node holds, zero-filled, and reads nothing beyond it (the path is allocated
// to its exact size, so AddressSanitizer sees any read past it).
TEST_F(Driver, PackageListGuidIsReadOnlyFromWhatTheFirstNodeHolds) {
  const uint8_t guidBytes[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};
  for (size_t nodeLength : {size_t{4}, size_t{6}, size_t{20}, size_t{28}}) {
    SCOPED_TRACE(nodeLength);
    Bytes path(nodeLength + 4, 0);
    path[0] = MEDIA_DEVICE_PATH;
    path[1] = nodeLength == 20 ? MEDIA_PIWG_FW_FILE_DP : 0x04;  // else a file-path node
    path[2] = static_cast<uint8_t>(nodeLength);
    for (size_t i = 4; i < nodeLength; i++) path[i] = i < 20 ? guidBytes[i - 4] : 'x';
    path[nodeLength] = END_DEVICE_PATH_TYPE;
    path[nodeLength + 1] = END_ENTIRE_DEVICE_PATH_SUBTYPE;
    path[nodeLength + 2] = 4;

    sim::SimulatedBoard simulated(BaseBoard());
    simulated.image.Protocol().FilePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(path.data());
    EXPECT_EQ(Run(simulated).status, EFI_SUCCESS);
    ASSERT_EQ(simulated.hii.PackageLists().size(), 1u);
    uint8_t expected[16] = {};
    std::memcpy(expected, guidBytes, std::min<size_t>(nodeLength - 4, 16));
    EXPECT_EQ(std::memcmp(&simulated.hii.PackageLists()[0].guid, expected, 16), 0);
  }
}

}  // namespace
