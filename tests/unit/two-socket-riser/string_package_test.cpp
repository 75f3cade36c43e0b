#include "hii/string_package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "hii/string_registration.h"
#include "tests/unit/hii_package_builder.h"
#include "include/guids.h"
#include "sim/hii_database.h"
#include "tests/unit/unit_support.h"

namespace {

struct TabledString {
  size_t blockOffset;
  std::u16string text;
};

// The package's strings as tabled: block offset within the package and text.
const std::vector<TabledString> kTabled = {
    {52, u"English"},          {69, u"MEZZANINE 0"},
    {94, u"MEZZANINE 1"},      {119, u"Riser 1, slot 1"},
    {152, u"Riser 1, slot 2"}, {185, u"Riser 1, slot 3"},
    {218, u"Riser 2, slot 1"}, {251, u"Riser 2, slot 2"},
    {284, u"Riser 2, slot 3"}, {317, u"Riser 3, slot 1"},
    {350, u"Riser 3, slot 2"}, {383, u"Aspeed Video"},
    {410, u"Intel I350"},      {433, u"Intel I350"},
    {456, u"PCH Integrated SATA Controller"},
    {519, u"PCH Integrated sSATA Controller"},
};

const uint8_t *Package() { return DriverStringPackage + 4; }

TEST(DriverStringPackage, MatchesTheTableByteForByte) {
  std::vector<uint8_t> expected = {0x4D, 0x02, 0x00, 0x00,   // array length 589
                                   0x49, 0x02, 0x00, 0x04,   // 585 bytes, strings
                                   0x34, 0x00, 0x00, 0x00,   // HdrSize
                                   0x34, 0x00, 0x00, 0x00};  // StringInfoOffset
  expected.insert(expected.end(), 32, 0);                    // LanguageWindow
  expected.insert(expected.end(), {0x01, 0x00, 'e', 'n', '-', 'U', 'S', 0x00});
  for (const TabledString &string : kTabled) {
    ASSERT_EQ(expected.size(), 4 + string.blockOffset);
    expected.push_back(0x14);
    for (char16_t c : string.text) {
      expected.insert(expected.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
    }
    expected.insert(expected.end(), {0x00, 0x00});
  }
  EXPECT_EQ(expected.size(), 4u + 584u);
  expected.push_back(0x00);  // end block
  ASSERT_EQ(sizeof(DriverStringPackage), 589u);
  EXPECT_EQ(std::vector<uint8_t>(DriverStringPackage, DriverStringPackage + 589), expected);
  EXPECT_EQ(std::vector<uint8_t>(END_PACKAGE_HEADER, END_PACKAGE_HEADER + 4),
            (std::vector<uint8_t>{0x04, 0x00, 0x00, 0xDF}));
}

TEST(DriverStringPackage, ParsesToSixteenStringsEndingAt584) {
  sim::HiiStringPackage parsed;
  std::string problem;
  ASSERT_TRUE(sim::ParseStringPackage(Package(), 585, &parsed, &problem)) << problem;
  EXPECT_EQ(parsed.language, "en-US");
  EXPECT_EQ(parsed.languageName, 1);
  EXPECT_EQ(parsed.endBlockOffset, 584u);
  ASSERT_EQ(parsed.strings.size(), 16u);
  for (size_t i = 0; i < kTabled.size(); i++) {
    EXPECT_EQ(parsed.strings.at(static_cast<EFI_STRING_ID>(i + 1)), kTabled[i].text) << i + 1;
  }
}

class StringRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gBootServices = fw.BootServices();
    gHiiDatabase = hii.DatabaseProtocol();
    driverHandle = fw.CreateHandle();
  }
  void TearDown() override { test::ExpectPoolCleanAndReset(fw); }
  EFI_HII_HANDLE Register(const std::vector<const UINT8 *> &arrays) {
    return RegisterStringPackages(SLOT_INVENTORY_DRIVER_FILE_GUID, driverHandle, arrays.data(),
                                  arrays.size());
  }
  size_t NewPackageListCalls() const { return fw.CountLog("HiiDatabase.NewPackageList"); }

  sim::Firmware fw;
  sim::HiiDatabase hii{fw};
  EFI_HANDLE driverHandle = nullptr;
};

TEST_F(StringRegistrationTest, DriverPackageBecomesA609BytePackageList) {
  uint64_t allocations = fw.pool.AllocationCount();
  EFI_HII_HANDLE handle = Register({DriverStringPackage});
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(fw.pool.AllocationCount() - allocations, 1u);

  const sim::HiiPackageList *list = hii.FindPackageList(SLOT_INVENTORY_DRIVER_FILE_GUID);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->handle, handle);
  EXPECT_EQ(list->driverHandle, driverHandle);
  const std::vector<uint8_t> &bytes = list->bytes;
  ASSERT_EQ(bytes.size(), 609u);
  EXPECT_EQ(std::memcmp(bytes.data(), &SLOT_INVENTORY_DRIVER_FILE_GUID, 16), 0);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 20),
            (std::vector<uint8_t>{0x61, 0x02, 0x00, 0x00}));
  EXPECT_EQ(std::memcmp(bytes.data() + 20, Package(), 585), 0);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 605, bytes.end()),
            (std::vector<uint8_t>{0x04, 0x00, 0x00, 0xDF}));
  EXPECT_EQ(list->packageTypes, (std::vector<uint8_t>{0x04, 0xDF}));
  EXPECT_EQ(sim::HiiDatabase::Strings(*list, "en-US").size(), 16u);
}

TEST_F(StringRegistrationTest, TwoArraysShareOneListAndOneEndPackage) {
  std::vector<uint8_t> french = test::StringPackage("fr-FR", {u"Francais", u"MEZZANINE 0"});
  std::vector<uint8_t> second = test::PackageArray({french});
  ASSERT_NE(Register({DriverStringPackage, second.data()}), nullptr);

  const sim::HiiPackageList *list = hii.FindPackageList(SLOT_INVENTORY_DRIVER_FILE_GUID);
  ASSERT_NE(list, nullptr);
  size_t total = 24 + 585 + french.size();
  ASSERT_EQ(list->bytes.size(), total);
  EXPECT_EQ(std::memcmp(list->bytes.data() + 16, &total, 4), 0);
  EXPECT_EQ(std::memcmp(list->bytes.data() + 20 + 585, french.data(), french.size()), 0);
  EXPECT_EQ(list->packageTypes, (std::vector<uint8_t>{0x04, 0x04, 0xDF}));
  EXPECT_EQ(sim::HiiDatabase::Strings(*list, "fr-FR").at(2), u"MEZZANINE 0");
}

TEST_F(StringRegistrationTest, RefusesWithoutAllocatingWhenThereAreNoPackageBytes) {
  const uint8_t empty[4] = {0x04, 0x00, 0x00, 0x00};
  const uint8_t tooShort[4] = {0x02, 0x00, 0x00, 0x00};
  // Length fields that would overflow the list's 32-bit length; only these
  // four bytes exist, so reading any package byte would be caught.
  const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t large[4] = {0x00, 0x00, 0x00, 0x80};
  uint64_t allocations = fw.pool.AllocationCount();
  EXPECT_EQ(Register({empty, empty}), nullptr);
  EXPECT_EQ(Register({}), nullptr);
  EXPECT_EQ(Register({tooShort}), nullptr);
  EXPECT_EQ(Register({DriverStringPackage, tooShort}), nullptr);
  EXPECT_EQ(Register({huge}), nullptr);
  EXPECT_EQ(Register({large, large}), nullptr);
  EXPECT_EQ(Register({DriverStringPackage, nullptr}), nullptr);
  EXPECT_EQ(fw.pool.AllocationCount(), allocations);
  EXPECT_EQ(NewPackageListCalls(), 0u);
}

TEST_F(StringRegistrationTest, FailuresGiveNoHandleAndReleaseTheList) {
  fw.faults.FailCall("NewPackageList", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Register({DriverStringPackage}), nullptr);
  EXPECT_EQ(NewPackageListCalls(), 1u);

  fw.faults.Clear();  // count the calls from here
  fw.faults.FailCall("AllocatePool", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Register({DriverStringPackage}), nullptr);
  EXPECT_EQ(NewPackageListCalls(), 1u);

  // The same GUID twice: the database refuses the second list.
  EXPECT_NE(Register({DriverStringPackage}), nullptr);
  EXPECT_EQ(Register({DriverStringPackage}), nullptr);

  gHiiDatabase = nullptr;
  uint64_t allocations = fw.pool.AllocationCount();
  EXPECT_EQ(Register({DriverStringPackage}), nullptr);
  EXPECT_EQ(fw.pool.AllocationCount(), allocations);
}

TEST_F(StringRegistrationTest, ForgetHiiStateClearsGuidAndHandle) {
  PackageListGuid = SLOT_INVENTORY_DRIVER_FILE_GUID;
  gHiiHandle = Register({DriverStringPackage});
  ASSERT_NE(gHiiHandle, nullptr);
  ForgetHiiState();
  EXPECT_EQ(gHiiHandle, nullptr);
  EXPECT_TRUE(GuidsEqual(PackageListGuid, EFI_GUID{}));
}

// ---- The simulated database refuses malformed package lists ----

class PackageListValidationTest : public StringRegistrationTest {
 protected:
  EFI_STATUS Submit(const std::vector<uint8_t> &list) {
    EFI_HII_HANDLE handle = nullptr;
    return hii.DatabaseProtocol()->NewPackageList(
        hii.DatabaseProtocol(), reinterpret_cast<const EFI_HII_PACKAGE_LIST_HEADER *>(list.data()),
        nullptr, &handle);
  }
  std::vector<uint8_t> ListOf(const std::vector<uint8_t> &package) {
    return test::PackageList(kGuid, {package});
  }
  static constexpr uint8_t kGuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
};

TEST_F(PackageListValidationTest, AcceptsEveryDefinedBlockType) {
  std::vector<uint8_t> package = test::StringPackage("de", {u"eins"});
  package.pop_back();  // reopen before the end block
  package.insert(package.end(), {0x10, 'z', 'w', 'e', 'i', 0,         // SCSU: id 2
                                 0x11, 7, 'd', 'r', 'e', 'i', 0,      // SCSU with font: 3
                                 0x12, 2, 0, 'v', 0, 'f', 0,          // two SCSU: 4, 5
                                 0x13, 7, 1, 0, 's', 0,               // SCSU run with font: 6
                                 0x15, 7, 'x', 0, 0, 0,               // UCS-2 with font: 7
                                 0x16, 1, 0, 'y', 0, 0, 0,            // UCS-2 run: 8
                                 0x17, 7, 1, 0, 'w', 0, 0, 0,         // UCS-2 run with font: 9
                                 0x20, 1, 0,                          // duplicate of 1: 10
                                 0x22, 2,                             // skip 11, 12
                                 0x21, 1, 0,                          // skip 13
                                 0x30, 0x40, 5, 0xAA, 0xBB,           // EXT1
                                 0x31, 0x40, 4, 0,                    // EXT2
                                 0x32, 0x40, 6, 0, 0, 0,              // EXT4
                                 0x14, 'q', 0, 0, 0,                  // UCS-2: 14
                                 0x00});
  test::SetLittleEndian(package, 0, package.size(), 3);
  ASSERT_EQ(Submit(ListOf(package)), EFI_SUCCESS);
  std::map<EFI_STRING_ID, std::u16string> strings =
      sim::HiiDatabase::Strings(*hii.FindPackageList(EFI_GUID{0x04030201, 0x0605, 0x0807,
                                                              {9, 10, 11, 12, 13, 14, 15, 16}}),
                                "de");
  std::map<EFI_STRING_ID, std::u16string> expected = {
      {1, u"eins"}, {2, u"zwei"}, {3, u"drei"}, {4, u"v"}, {5, u"f"},  {6, u"s"},
      {7, u"x"},    {8, u"y"},    {9, u"w"},    {10, u"eins"},          {14, u"q"}};
  EXPECT_EQ(strings, expected);
}

TEST_F(PackageListValidationTest, RefusesMalformedLists) {
  std::vector<uint8_t> good = test::StringPackage("en-US", {u"a"});
  auto mutated = [&](auto change) {
    std::vector<uint8_t> package = good;
    change(package);
    return ListOf(package);
  };
  std::vector<std::vector<uint8_t>> bad = {
      mutated([](auto &p) { p[p.size() - 1] = 0x50; }),                 // unknown block type
      mutated([](auto &p) { p[p.size() - 1] = 0x14; }),                 // no end block
      mutated([](auto &p) { test::SetLittleEndian(p, 4, 46, 4); }),     // HdrSize without language
      mutated([](auto &p) { test::SetLittleEndian(p, 4, 900, 4); }),    // HdrSize past the package
      mutated([](auto &p) { test::SetLittleEndian(p, 8, 40, 4); }),     // blocks inside the header
      mutated([](auto &p) { test::SetLittleEndian(p, 8, 900, 4); }),    // blocks past the package
      mutated([](auto &p) { p[51] = 'x'; }),                            // language without NUL
      mutated([](auto &p) { test::SetLittleEndian(p, 0, 900, 3); }),    // package past the list
      mutated([](auto &p) { p[3] = 0x03; }),                            // undefined package type
  };
  for (size_t i = 0; i < bad.size(); i++) {
    EXPECT_EQ(Submit(bad[i]), EFI_INVALID_PARAMETER) << "case " << i;
  }
  std::vector<uint8_t> noEnd = ListOf(good);
  noEnd.resize(noEnd.size() - 4);
  test::SetLittleEndian(noEnd, 16, noEnd.size(), 4);
  EXPECT_EQ(Submit(noEnd), EFI_INVALID_PARAMETER);
  std::vector<uint8_t> trailing = ListOf(good);
  trailing.insert(trailing.end(), {0, 0, 0, 0});
  test::SetLittleEndian(trailing, 16, trailing.size(), 4);
  EXPECT_EQ(Submit(trailing), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(hii.PackageLists().empty());
  EXPECT_EQ(Submit(ListOf(good)), EFI_SUCCESS);
}

}  // namespace
