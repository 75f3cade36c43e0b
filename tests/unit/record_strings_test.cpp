#include "smbios/record_strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "base/memory.h"
#include "sim/firmware.h"
#include "tests/unit/unit_support.h"

using namespace std::string_literals;

namespace {

constexpr UINT8 TYPE9_LENGTH = 17;
constexpr UINT8 TYPE41_LENGTH = 11;

// Records live in an exact 768-byte pool block, so AddressSanitizer sees any
// read or write outside the RecordBuffer.
class RecordStringsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gBootServices = fw.BootServices();
    record = static_cast<UINT8 *>(AllocateZeroedBuffer(RECORD_BUFFER_SIZE));
    Prepare(SMBIOS_TYPE_SYSTEM_SLOTS, TYPE9_LENGTH);
  }
  void TearDown() override {
    gBootServices->FreePool(record);
    test::ExpectPoolCleanAndReset(fw);
  }

  void Prepare(UINT8 type, UINT8 length) {
    ZeroBuffer(record, RECORD_BUFFER_SIZE);
    record[0] = type;
    record[1] = length;
    for (UINT8 i = 2; i < length; i++) {
      record[i] = static_cast<UINT8>(0xA0 + i);  // formatted bytes that must survive
    }
  }
  void SetArea(const std::string &bytes) {
    std::copy(bytes.begin(), bytes.end(), record + record[1]);
  }
  std::string Area(size_t count) const {
    return std::string(reinterpret_cast<const char *>(record + record[1]), count);
  }
  std::vector<UINT8> Snapshot() const { return {record, record + RECORD_BUFFER_SIZE}; }
  UINTN Measure(EFI_STATUS expected = EFI_SUCCESS) const {
    UINTN size = 0;
    const VOID *start = record;
    EXPECT_EQ(MeasureSmbiosRecord(start, &size), expected);
    return size;
  }
  EFI_STATUS Replace(UINTN number, const CHAR16 *text) {
    return ReplaceRecordString(record, number, text);
  }
  uint64_t Allocations() const { return fw.pool.AllocationCount(); }

  sim::Firmware fw;
  UINT8 *record = nullptr;
};

TEST_F(RecordStringsTest, FreshAreaIsRebuiltThenEqualLengthIsOverwrittenInPlace) {
  std::vector<UINT8> formatted(record, record + TYPE9_LENGTH);
  uint64_t before = Allocations();
  ASSERT_EQ(Replace(1, u"Riser 1, slot 1"), EFI_SUCCESS);
  EXPECT_EQ(Allocations() - before, 2u);  // the ASCII copy and the scratch record
  EXPECT_EQ(Area(17), "Riser 1, slot 1\0\0"s);
  EXPECT_EQ(Measure(), 34u);

  std::vector<UINT8> expected = Snapshot();
  expected[TYPE9_LENGTH + 14] = '2';
  before = Allocations();
  ASSERT_EQ(Replace(1, u"Riser 1, slot 2"), EFI_SUCCESS);
  EXPECT_EQ(Allocations() - before, 1u);  // no scratch record
  EXPECT_EQ(Snapshot(), expected);
  EXPECT_EQ(Measure(), 34u);
  EXPECT_EQ(std::vector<UINT8>(record, record + TYPE9_LENGTH), formatted);
}

TEST_F(RecordStringsTest, LongerStringGrowsTheRecord) {
  SetArea("MEZZANINE 0\0\0"s);
  EXPECT_EQ(Measure(), 30u);
  ASSERT_EQ(Replace(1, u"Riser 1, slot 1"), EFI_SUCCESS);
  EXPECT_EQ(Area(17), "Riser 1, slot 1\0\0"s);
  EXPECT_EQ(Measure(), 34u);
}

TEST_F(RecordStringsTest, ShorterStringLeavesTheOldTailBehindTheNewEnd) {
  Prepare(SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION, TYPE41_LENGTH);
  std::string old = "PCH Integrated SATA Controller";
  SetArea(old + "\0\0"s);
  EXPECT_EQ(Measure(), 43u);
  ASSERT_EQ(Replace(1, u"Aspeed Video"), EFI_SUCCESS);
  EXPECT_EQ(Measure(), 25u);
  EXPECT_EQ(Area(14), "Aspeed Video\0\0"s);
  std::string stale(reinterpret_cast<const char *>(record + 25), 18);
  EXPECT_EQ(stale, old.substr(old.size() - 16) + "\0\0"s);
}

TEST_F(RecordStringsTest, OtherStringsKeepTheirBytes) {
  SetArea("ab\0cdef\0\0"s);
  ASSERT_EQ(Replace(1, u"wxyz1"), EFI_SUCCESS);
  EXPECT_EQ(Area(12), "wxyz1\0cdef\0\0"s);

  SetArea("ab\0cdef\0\0"s);
  std::vector<UINT8> head(record, record + TYPE9_LENGTH + 3);
  ASSERT_EQ(Replace(2, u"Q"), EFI_SUCCESS);
  EXPECT_EQ(std::vector<UINT8>(record, record + TYPE9_LENGTH + 3), head);
  EXPECT_EQ(Area(6), "ab\0Q\0\0"s);
  EXPECT_EQ(Measure(), TYPE9_LENGTH + 6u);
}

TEST_F(RecordStringsTest, OnePastTheLastStringAppends) {
  SetArea("abc\0\0"s);
  ASSERT_EQ(Replace(2, u"de"), EFI_SUCCESS);
  EXPECT_EQ(Area(8), "abc\0de\0\0"s);
  EXPECT_EQ(Measure(), TYPE9_LENGTH + 8u);

  Prepare(SMBIOS_TYPE_SYSTEM_SLOTS, TYPE9_LENGTH);
  ASSERT_EQ(Replace(2, u"xy"), EFI_SUCCESS);
  EXPECT_EQ(Area(5), "\0xy\0\0"s);
  EXPECT_EQ(Measure(), TYPE9_LENGTH + 5u);
}

TEST_F(RecordStringsTest, EmptyStrings) {
  SetArea("abc\0\0"s);
  ASSERT_EQ(Replace(1, u""), EFI_SUCCESS);
  EXPECT_EQ(Area(2), "\0\0"s);
  EXPECT_EQ(Measure(), 19u);

  Prepare(SMBIOS_TYPE_SYSTEM_SLOTS, TYPE9_LENGTH);
  std::vector<UINT8> before = Snapshot();
  uint64_t allocations = Allocations();
  EXPECT_EQ(Replace(1, u""), EFI_SUCCESS);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Allocations() - allocations, 1u);
}

TEST_F(RecordStringsTest, StringNumberZeroNamesTheFirstString) {
  SetArea("old\0second\0\0"s);
  ASSERT_EQ(Replace(0, u"newer"), EFI_SUCCESS);
  EXPECT_EQ(Area(14), "newer\0second\0\0"s);
}

TEST_F(RecordStringsTest, CharactersKeepTheirLowByteAndAZeroLowByteEndsTheCopy) {
  ASSERT_EQ(Replace(1, u"x\u0141y"), EFI_SUCCESS);
  EXPECT_EQ(Area(5), "xAy\0\0"s);
  ASSERT_EQ(Replace(1, u"ab\u0100cd"), EFI_SUCCESS);
  EXPECT_EQ(Area(4), "ab\0\0"s);
  EXPECT_EQ(Measure(), TYPE9_LENGTH + 4u);
}

TEST_F(RecordStringsTest, MeasureCountsEveryShapeOfStringArea) {
  EXPECT_EQ(Measure(), 19u);
  Prepare(SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION, TYPE41_LENGTH);
  EXPECT_EQ(Measure(), 13u);

  SetArea(std::string(63, 'a') + "\0\0"s);
  EXPECT_EQ(Measure(), TYPE41_LENGTH + 65u);
  SetArea(std::string(64, 'a') + "\0\0"s);
  EXPECT_EQ(Measure(EFI_INVALID_PARAMETER), TYPE41_LENGTH);

  Prepare(SMBIOS_TYPE_SYSTEM_SLOTS, TYPE9_LENGTH);
  SetArea("\0abc\0\0"s);
  EXPECT_EQ(Measure(), TYPE9_LENGTH + 6u);
}

// ---- Refusals: the record stays as it was and nothing is left allocated ----

TEST_F(RecordStringsTest, RefusesStringNumbersBeyondOnePastTheLast) {
  SetArea("abc\0\0"s);
  std::vector<UINT8> before = Snapshot();
  EXPECT_EQ(Replace(3, u"x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(~static_cast<UINTN>(0), u"x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);

  Prepare(SMBIOS_TYPE_SYSTEM_SLOTS, TYPE9_LENGTH);
  before = Snapshot();
  EXPECT_EQ(Replace(3, u"x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecordStringsTest, RefusesStringsOfTheLimitOrLonger) {
  std::u16string limit(RECORD_STRING_LIMIT, u'a');
  std::u16string longest(RECORD_STRING_LIMIT - 1, u'a');
  std::u16string huge(200, u'a');
  std::vector<UINT8> before = Snapshot();
  EXPECT_EQ(Replace(1, limit.c_str()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(1, huge.c_str()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Replace(1, longest.c_str()), EFI_SUCCESS);

  // A string of the limit already in the record, before or after the target.
  SetArea(std::string(64, 'b') + "\0\0"s);
  before = Snapshot();
  EXPECT_EQ(Replace(1, u"x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);
  SetArea("ab\0"s + std::string(64, 'b') + "\0\0"s);
  before = Snapshot();
  EXPECT_EQ(Replace(1, u"xy"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecordStringsTest, RefusesToGrowPastTheRecordBuffer) {
  // Eleven strings of 63 characters and one of 45 fill the buffer exactly.
  std::string area;
  for (int i = 0; i < 11; i++) {
    area += std::string(63, static_cast<char>('a' + i)) + "\0"s;
  }
  area += std::string(45, 'z') + "\0\0"s;
  SetArea(area);
  ASSERT_EQ(Measure(), RECORD_BUFFER_SIZE);
  std::vector<UINT8> before = Snapshot();
  EXPECT_EQ(Replace(12, std::u16string(46, u'y').c_str()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(13, u"y"), EFI_INVALID_PARAMETER);  // appending needs two bytes more
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Replace(12, std::u16string(44, u'y').c_str()), EFI_SUCCESS);
  EXPECT_EQ(Measure(), RECORD_BUFFER_SIZE - 1);

  // Appending one character to a 766-byte record fills it exactly.
  ASSERT_EQ(Replace(12, std::u16string(43, u'y').c_str()), EFI_SUCCESS);
  ASSERT_EQ(Measure(), RECORD_BUFFER_SIZE - 2);
  before = Snapshot();
  EXPECT_EQ(Replace(13, u"yz"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Replace(13, u"y"), EFI_SUCCESS);
  EXPECT_EQ(Measure(), RECORD_BUFFER_SIZE);
}

TEST_F(RecordStringsTest, RefusesAStringAreaThatNeverEndsInsideTheBuffer) {
  for (UINTN at = TYPE9_LENGTH; at < RECORD_BUFFER_SIZE; at++) {
    record[at] = (at % 2 == 0) ? 'a' : 0;  // single NULs, never two in a row
  }
  Measure(EFI_INVALID_PARAMETER);
  std::vector<UINT8> before = Snapshot();
  EXPECT_EQ(Replace(1, u"x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(400, u"x"), EFI_INVALID_PARAMETER);
  record[RECORD_BUFFER_SIZE - 1] = 'a';  // the last byte not even a NUL
  Measure(EFI_INVALID_PARAMETER);
  EXPECT_EQ(Replace(1, u"x"), EFI_INVALID_PARAMETER);
  before[RECORD_BUFFER_SIZE - 1] = 'a';
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecordStringsTest, AllocationFailuresLeaveTheRecordUnchanged) {
  SetArea("MEZZANINE 0\0\0"s);
  std::vector<UINT8> before = Snapshot();
  fw.faults.Clear();  // count the calls from here
  fw.faults.FailCall("AllocatePool", 1, EFI_OUT_OF_RESOURCES);  // the ASCII copy
  EXPECT_EQ(Replace(1, u"Riser 1, slot 1"), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Snapshot(), before);

  fw.faults.Clear();
  fw.faults.FailCall("AllocatePool", 2, EFI_OUT_OF_RESOURCES);  // the scratch record
  EXPECT_EQ(Replace(1, u"Riser 1, slot 1"), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
