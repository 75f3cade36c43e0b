// Adding, finding and purging records through the simulated SMBIOS protocol.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "entry/startup.h"
#include "inventory/record_model.h"
#include "sim/dmidecode.h"
#include "sim/firmware.h"
#include "sim/smbios_table.h"
#include "smbios/table_access.h"
#include "tests/scratch_directory.h"
#include "tests/unit/unit_support.h"

namespace {

std::vector<uint8_t> Record(uint8_t type, const std::vector<std::string> &strings = {}) {
  return test::RawRecord(type, {}, strings);
}

class TableAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDriverState();
    gBootServices = firmware.BootServices();
  }
  void TearDown() override { test::ExpectPoolCleanAndReset(firmware); }
  void Fill(std::vector<uint8_t> types) {
    for (uint8_t type : types) ASSERT_EQ(table.AddRecord(Record(type)), EFI_SUCCESS);
    handles.clear();
    for (const sim::SmbiosRecord &record : table.Records()) handles.push_back(record.handle);
    firmware.log.clear();
  }
  std::vector<uint8_t> Types() const {
    std::vector<uint8_t> types;
    for (const sim::SmbiosRecord &record : table.Records()) types.push_back(record.Type());
    return types;
  }
  sim::Firmware firmware;
  sim::SmbiosTable table{firmware};
  std::vector<EFI_SMBIOS_HANDLE> handles;
};

TEST_F(TableAccess, PurgeCountsThenRemovesFirstMatchEachTime) {
  Fill({0, 9, 17, 9, 41, 9});
  EXPECT_EQ(PurgeSmbiosRecordsOfType(9), EFI_SUCCESS);
  // Four GetNext calls count three records, then each removal searches from the start.
  EXPECT_EQ(firmware.CountLog("Smbios.GetNext"), 4u + 3u);
  EXPECT_EQ(firmware.CountLog("Smbios.Remove"), 3u);
  EXPECT_EQ(Types(), (std::vector<uint8_t>{0, 17, 41}));
  // Removals went in table order.
  std::vector<std::string> removes;
  for (const std::string &entry : firmware.log)
    if (entry.rfind("Smbios.Remove", 0) == 0) removes.push_back(entry);
  char expected[64];
  std::snprintf(expected, sizeof(expected), "Smbios.Remove(0x%04X) -> EFI_SUCCESS", handles[1]);
  EXPECT_EQ(removes[0], expected);
}

TEST_F(TableAccess, FindGivesTheFirstRecordOfTheType) {
  Fill({0, 9, 17, 9, 41, 9});
  EFI_SMBIOS_HANDLE handle = 0;
  EXPECT_EQ(FindSmbiosRecordOfType(9, &handle), EFI_SUCCESS);
  EXPECT_EQ(handle, handles[1]);
  EXPECT_EQ(FindSmbiosRecordOfType(41, &handle), EFI_SUCCESS);
  EXPECT_EQ(handle, handles[4]);
}

TEST_F(TableAccess, NothingOfTheTypeIsNotAnErrorForPurgeButIsForRemove) {
  Fill({0, 9, 41});
  EXPECT_EQ(PurgeSmbiosRecordsOfType(17), EFI_SUCCESS);
  EXPECT_EQ(firmware.CountLog("Smbios.GetNext"), 1u);
  EXPECT_EQ(RemoveSmbiosRecordOfType(17), EFI_NOT_FOUND);
  EXPECT_EQ(firmware.CountLog("Smbios.Remove"), 0u);
  EXPECT_EQ(Types(), (std::vector<uint8_t>{0, 9, 41}));
}

TEST_F(TableAccess, NullHandleIsRefusedBeforeAnyLocate) {
  table.~SmbiosTable();
  new (&table) sim::SmbiosTable(firmware, false);
  EXPECT_EQ(FindSmbiosRecordOfType(9, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware.CountLog("LocateProtocol"), 0u);
}

TEST_F(TableAccess, MissingProtocolIsReportedAndLocatedAgainLater) {
  table.~SmbiosTable();
  new (&table) sim::SmbiosTable(firmware, false);
  std::vector<uint8_t> record = Record(41, {"x"});
  EXPECT_EQ(InsertSmbiosRecord(record.data()), EFI_NOT_FOUND);
  EXPECT_EQ(PurgeSmbiosRecordsOfType(41), EFI_NOT_FOUND);
  EXPECT_EQ(firmware.CountLog("Smbios."), 0u);

  table.Install();
  EXPECT_EQ(InsertSmbiosRecord(record.data()), EFI_SUCCESS);
  EXPECT_EQ(table.Records().size(), 1u);
  EXPECT_EQ(PurgeSmbiosRecordsOfType(41), EFI_SUCCESS);
  EXPECT_TRUE(table.Records().empty());
  // Each operation keeps its own cache: four locates in all after the failed two.
  EXPECT_EQ(firmware.CountLog("LocateProtocol(Smbios) -> EFI_SUCCESS"), 4u);
}

TEST_F(TableAccess, AddFailureIsReportedAndRemoveFailureEndsThePurge) {
  firmware.faults.FailCall("Smbios.Add", 1, EFI_OUT_OF_RESOURCES);
  std::vector<uint8_t> record = Record(9, {"slot"});
  EXPECT_EQ(InsertSmbiosRecord(record.data()), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(table.Records().empty());

  Fill({9, 9, 9});
  firmware.faults.FailCall("Smbios.Remove", 2, EFI_DEVICE_ERROR);
  EXPECT_EQ(PurgeSmbiosRecordsOfType(9), EFI_DEVICE_ERROR);
  EXPECT_EQ(table.Records().size(), 2u);  // the first removal stands
}

TEST_F(TableAccess, WalksEndEvenWhenGetNextNeverReportsTheEnd) {
  Fill({9, 41});
  table.SetGetNextNeverEnds(true);
  // GetNext keeps going round: the count stops at the handle space, the purge ends.
  PurgeSmbiosRecordsOfType(9);
  EXPECT_LE(firmware.CountLog("Smbios.GetNext"), 2 * SMBIOS_MAX_RECORDS + 2);
  EXPECT_EQ(Types(), (std::vector<uint8_t>{41}));
}

// Records prepared by the driver's header routines, added through the driver,
// decoded by the real dmidecode from the simulator's published table.
TEST_F(TableAccess, PreparedRecordsDecodeCleanlyInDmidecode) {
  if (sim::DmidecodePath().empty()) GTEST_SKIP() << "dmidecode is not installed";
  alignas(8) UINT8 slot[RECORD_BUFFER_SIZE] = {};
  PrepareSlotHeader(slot);
  auto *type9 = reinterpret_cast<SMBIOS_TABLE_TYPE9 *>(slot);
  type9->SlotType = SlotTypePciExpressGen3X16;
  type9->SlotDataBusWidth = SlotDataBusWidth16X;
  type9->CurrentUsage = SlotUsageInUse;
  type9->SlotID = 17;
  type9->BusNum = 0x3A;
  type9->DevFuncNum = EncodeDeviceFunction(2, 0);
  std::memcpy(slot + sizeof(SMBIOS_TABLE_TYPE9), "MEZZANINE 0", 11);
  alignas(8) UINT8 device[RECORD_BUFFER_SIZE] = {};
  PrepareDeviceHeader(device);
  auto *type41 = reinterpret_cast<SMBIOS_TABLE_TYPE41 *>(device);
  type41->DeviceType = ONBOARD_DEVICE_ENABLED | OnBoardDeviceExtendedTypeSATAController;
  type41->DeviceTypeInstance = 3;
  type41->DevFuncNum = 0xB8;
  std::memcpy(device + sizeof(SMBIOS_TABLE_TYPE41), "PCH Integrated SATA Controller", 30);

  ASSERT_EQ(InsertSmbiosRecord(slot), EFI_SUCCESS);
  ASSERT_EQ(InsertSmbiosRecord(device), EFI_SUCCESS);
  ASSERT_EQ(table.Records().size(), 2u);
  EXPECT_EQ(table.Records()[0].bytes.size(), 0x11u + 12u + 1u);

  std::string dump = testing_support::ScratchPath("table_access_dmidecode.bin");
  ASSERT_TRUE(table.WriteDump(dump));
  sim::DmidecodeResult result = sim::RunDmidecode(dump);
  EXPECT_NE(result.output.find("SMBIOS 3.0.0 present."), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("DMI type 9, 17 bytes"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("DMI type 41, 11 bytes"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Designation: MEZZANINE 0"), std::string::npos);
  EXPECT_NE(result.output.find("Type: x16 PCI Express 3"), std::string::npos);
  EXPECT_NE(result.output.find("Current Usage: In Use"), std::string::npos);
  EXPECT_NE(result.output.find("Bus Address: 0000:3a:02.0"), std::string::npos);
  EXPECT_NE(result.output.find("Reference Designation: PCH Integrated SATA Controller"),
            std::string::npos);
  EXPECT_NE(result.output.find("Type: SATA Controller"), std::string::npos);
  EXPECT_NE(result.output.find("Status: Enabled"), std::string::npos);
  EXPECT_EQ(sim::DmidecodeWarning(result.output), "") << result.output;
}

}  // namespace
