// The simulated SMBIOS protocol behaves as OVMF's did when the harness probed it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "include/smbios_entry_point.h"
#include "sim/firmware.h"
#include "sim/smbios_table.h"
#include "tests/unit/unit_support.h"

namespace {

// One formatted byte naming string 1.
std::vector<uint8_t> Record(uint8_t type, const std::vector<std::string> &strings) {
  return test::RawRecord(type, {1}, strings);
}

class SmbiosModel : public ::testing::Test {
 protected:
  sim::Firmware firmware;
  sim::SmbiosTable table{firmware};
  EFI_SMBIOS_PROTOCOL *smbios = table.Protocol();
};

TEST_F(SmbiosModel, HandlesAreTheSmallestFreeOneAndAreReused) {
  ASSERT_EQ(table.AddRecord(Record(1, {"a"}), 0x0000), EFI_SUCCESS);
  ASSERT_EQ(table.AddRecord(Record(2, {"b"})), EFI_SUCCESS);
  ASSERT_EQ(table.AddRecord(Record(3, {"c"})), EFI_SUCCESS);
  EXPECT_EQ(table.Records()[1].handle, 1);
  EXPECT_EQ(smbios->Remove(smbios, 1), EFI_SUCCESS);
  ASSERT_EQ(table.AddRecord(Record(4, {"d"})), EFI_SUCCESS);
  // Reused, and placed at the end of the table.
  EXPECT_EQ(table.Records().back().handle, 1);
  EXPECT_EQ(table.Records().back().Type(), 4);
  EXPECT_EQ(table.AddRecord(Record(5, {"e"}), 0x0002), EFI_ALREADY_STARTED);
  EXPECT_EQ(smbios->Remove(smbios, 0x0777), EFI_INVALID_PARAMETER);
  EXPECT_EQ(smbios->Remove(smbios, SMBIOS_HANDLE_PI_RESERVED), EFI_INVALID_PARAMETER);
}

TEST_F(SmbiosModel, AddTakesLongStringsButNotAnUnterminatedArea) {
  EXPECT_EQ(table.AddRecord(Record(11, {std::string(300, 'x')})), EFI_SUCCESS);
  std::vector<uint8_t> unterminated(sim::SmbiosTable::kMaxRecordSize + 8, 'y');
  unterminated[0] = 11;
  unterminated[1] = 4;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(smbios->Add(smbios, nullptr, &handle,
                        reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(unterminated.data())),
            EFI_INVALID_PARAMETER);
}

TEST_F(SmbiosModel, GetNextFromAnUnknownHandleEnds) {
  ASSERT_EQ(table.AddRecord(Record(9, {"s"})), EFI_SUCCESS);
  EFI_SMBIOS_HANDLE handle = 0x0333;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  EXPECT_EQ(smbios->GetNext(smbios, &handle, nullptr, &record, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(handle, SMBIOS_HANDLE_PI_RESERVED);
  EFI_HANDLE producer = reinterpret_cast<EFI_HANDLE>(1);
  handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(smbios->GetNext(smbios, &handle, nullptr, &record, &producer), EFI_SUCCESS);
  EXPECT_EQ(producer, nullptr);
}

TEST_F(SmbiosModel, UpdateStringReplacesAnExistingStringOnly) {
  ASSERT_EQ(table.AddRecord(Record(11, {"first", "second"})), EFI_SUCCESS);
  EFI_SMBIOS_HANDLE handle = table.Records()[0].handle;
  UINTN number = 2;
  char longer[] = "a much longer second";
  EXPECT_EQ(smbios->UpdateString(smbios, &handle, &number, longer), EFI_SUCCESS);
  EXPECT_EQ(table.Records()[0].Strings(), (std::vector<std::string>{"first", longer}));
  number = 3;
  EXPECT_EQ(smbios->UpdateString(smbios, &handle, &number, longer), EFI_NOT_FOUND);
}

TEST_F(SmbiosModel, PublishedTableEndsWithTheFixedEndOfTableHandle) {
  ASSERT_EQ(table.AddRecord(Record(9, {"s"})), EFI_SUCCESS);
  std::vector<uint8_t> structures = table.StructureTable();
  const uint8_t end[] = {127, 4, 0xFF, 0xFE, 0, 0};
  ASSERT_GE(structures.size(), sizeof(end));
  EXPECT_EQ(0, std::memcmp(structures.data() + structures.size() - sizeof(end), end, sizeof(end)));
  std::vector<uint8_t> entry = table.EntryPoint(0x1000);
  uint8_t sum = 0;
  for (uint8_t byte : entry) sum = static_cast<uint8_t>(sum + byte);
  EXPECT_EQ(sum, 0);
  SMBIOS_ENTRY_POINT_30 point;
  ASSERT_EQ(entry.size(), sizeof(point));
  std::memcpy(&point, entry.data(), sizeof(point));
  EXPECT_EQ(0, std::memcmp(point.AnchorString, "_SM3_", sizeof(point.AnchorString)));
  EXPECT_EQ(point.TableMaximumSize, structures.size());
  EXPECT_EQ(point.TableAddress, 0x1000u);
}

}  // namespace
