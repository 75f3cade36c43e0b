#include "hii/string_lookup.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "hii/string_package.h"
#include "hii/string_registration.h"
#include "tests/unit/hii_package_builder.h"
#include "include/guids.h"
#include "sim/hii_database.h"
#include "sim/variable_store.h"
#include "tests/unit/unit_support.h"

namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gBootServices = fw.BootServices();
    gRuntimeServices = fw.RuntimeServices();
  }
  void TearDown() override { test::ExpectPoolCleanAndReset(fw); }
  // The chosen code as text, or "(none)"; the buffer is released here.
  std::string Pick(const char *supported, const std::vector<const char *> &candidates) {
    CHAR8 *best = PickBestLanguage(supported, candidates.data(), candidates.size());
    if (best == nullptr) {
      return "(none)";
    }
    std::string text = best;
    gBootServices->FreePool(best);
    return text;
  }

  sim::Firmware fw;
};

// A firmware whose language list comes back without its NUL.
EFI_STATUS EFIAPI UnterminatedLanguages(const EFI_HII_STRING_PROTOCOL *, EFI_HII_HANDLE,
                                        CHAR8 *Languages, UINTN *LanguagesSize) {
  static const char kList[5] = {'e', 'n', '-', 'U', 'S'};
  if (*LanguagesSize < sizeof(kList)) {
    *LanguagesSize = sizeof(kList);
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Languages, kList, sizeof(kList));
  return EFI_SUCCESS;
}

TEST_F(LanguageTest, ALanguageListWithoutItsNulIsReadNoFurther) {
  EFI_HII_STRING_PROTOCOL strings{};
  strings.GetLanguages = &UnterminatedLanguages;
  gHiiString = &strings;
  CHAR8 *languages = GetSupportedLanguageList(reinterpret_cast<EFI_HII_HANDLE>(1));
  ASSERT_NE(languages, nullptr);
  EXPECT_STREQ(languages, "en-US");
  gBootServices->FreePool(languages);
}

TEST_F(LanguageTest, PicksByPrefixShorteningAtSubtags) {
  for (const char *supported : {"en-US;fr-FR;de", ";;en-US;;fr-FR;de;", "en-US;fr-FR;;de;;"}) {
    SCOPED_TRACE(supported);
    EXPECT_EQ(Pick(supported, {"fr"}), "fr-FR");
    EXPECT_EQ(Pick(supported, {"de-DE"}), "de");
    EXPECT_EQ(Pick(supported, {"zh-Hant-TW"}), "(none)");
    EXPECT_EQ(Pick(supported, {"zh-Hant-TW", "de"}), "de");
    EXPECT_EQ(Pick(supported, {"fr-CA;en-US"}), "fr-FR");
    EXPECT_EQ(Pick(supported, {"", ";en-US", "en-US"}), "en-US");
    EXPECT_EQ(Pick(supported, {"EN-US", "en-GB"}), "en-US");
    EXPECT_EQ(Pick(supported, {"-en"}), "(none)");  // never cut back to nothing
    EXPECT_EQ(Pick(supported, {nullptr, "de"}), "de");
  }
  EXPECT_EQ(Pick("eng;en-US", {"en"}), "eng");
  EXPECT_EQ(Pick("en-US", {"-en", "en"}), "en-US");
  EXPECT_EQ(Pick("", {"en"}), "(none)");
  EXPECT_EQ(Pick("en-US", {}), "(none)");
}

TEST_F(LanguageTest, AllocationFailureAtTheFirstMatchEndsTheSelection) {
  fw.faults.FailCall("AllocatePool", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Pick("en-US;fr-FR", {"fr", "en"}), "(none)");
  EXPECT_EQ(fw.faults.Calls("AllocatePool"), 1u);
}

TEST_F(LanguageTest, PlatformLanguageIsAlwaysTerminatedInsideItsBuffer) {
  sim::VariableStore variables(fw);
  CHAR8 *value = reinterpret_cast<CHAR8 *>(1);
  EXPECT_EQ(ReadPlatformLanguage(&value), EFI_NOT_FOUND);
  EXPECT_EQ(value, nullptr);

  variables.SetPlatformLang("fr-FR");
  ASSERT_EQ(ReadPlatformLanguage(&value), EFI_SUCCESS);
  EXPECT_EQ(std::string(value), "fr-FR");
  gBootServices->FreePool(value);

  // Stored without a NUL: read as its bytes and no further.
  std::string longValue(300, 'x');
  for (const std::string &stored : {std::string("e"), longValue, std::string("de-DE")}) {
    variables.SetPlatformLang(stored, false);
    ASSERT_EQ(ReadPlatformLanguage(&value), EFI_SUCCESS);
    EXPECT_EQ(std::string(value), stored);
    gBootServices->FreePool(value);
  }

  // Zero bytes: the sizing call itself is refused, so there is no value.
  variables.Set(u"PlatformLang", gEfiGlobalVariableGuid, {});
  EXPECT_TRUE(EFI_ERROR(ReadPlatformLanguage(&value)));
  EXPECT_EQ(value, nullptr);

  variables.SetPlatformLang("en-US");
  fw.faults.Clear();  // count the calls from here
  fw.faults.FailCall("GetVariable", 2, EFI_DEVICE_ERROR);
  EXPECT_EQ(ReadPlatformLanguage(&value), EFI_DEVICE_ERROR);
  EXPECT_EQ(value, nullptr);
  fw.faults.Clear();
  fw.faults.FailCall("AllocatePool", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(ReadPlatformLanguage(&value), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(value, nullptr);
}

// ---- Lookups through the simulated HII database ----

class LookupTest : public LanguageTest {
 protected:
  void SetUp() override {
    LanguageTest::SetUp();
    gHiiString = hii.StringProtocol();
    gHiiDatabase = hii.DatabaseProtocol();
    Register({DriverStringPackage});
  }
  void Register(const std::vector<const UINT8 *> &arrays) {
    gHiiHandle = RegisterStringPackages(SLOT_INVENTORY_DRIVER_FILE_GUID, fw.CreateHandle(),
                                        arrays.data(), arrays.size());
    ASSERT_NE(gHiiHandle, nullptr);
  }
  // The looked-up text, or "(none)"; checks the buffer is exactly the string.
  std::u16string Lookup(EFI_STRING_ID id) {
    uint64_t bytesBefore = fw.pool.BytesOutstanding();
    CHAR16 *text = LookupDriverString(id);
    if (text == nullptr) {
      EXPECT_EQ(fw.pool.BytesOutstanding(), bytesBefore);
      return u"(none)";
    }
    std::u16string result = text;
    EXPECT_EQ(fw.pool.BytesOutstanding() - bytesBefore, (result.size() + 1) * sizeof(CHAR16));
    gBootServices->FreePool(text);
    return result;
  }
  size_t StringCallsIn(const std::string &language) const {
    return fw.CountLog("HiiString.GetString(id=4, " + language + ")");
  }

  sim::HiiDatabase hii{fw};
  sim::VariableStore variables{fw};
};

TEST_F(LookupTest, EveryStringComesBackInEnglish) {
  const char16_t *texts[] = {u"English",         u"MEZZANINE 0",     u"MEZZANINE 1",
                             u"Riser 1, slot 1", u"Riser 1, slot 2", u"Riser 1, slot 3",
                             u"Riser 2, slot 1", u"Riser 2, slot 2", u"Riser 2, slot 3",
                             u"Riser 3, slot 1", u"Riser 3, slot 2", u"Aspeed Video",
                             u"Intel I350",      u"Intel I350",      u"PCH Integrated SATA Controller",
                             u"PCH Integrated sSATA Controller"};
  for (EFI_STRING_ID id = 1; id <= 16; id++) {
    EXPECT_EQ(Lookup(id), texts[id - 1]) << id;
  }
  EXPECT_EQ(Lookup(17), u"(none)");
  EXPECT_EQ(Lookup(0), u"(none)");
}

TEST_F(LookupTest, EveryPlatformLanguageEndsInTheOnlyLanguage) {
  // Absent, matching, shortened to a prefix, unmatched, of the wrong case, and
  // stored without a NUL at sizes 1 and 300.
  std::vector<std::pair<std::string, bool>> values = {
      {"en-US", true}, {"en", true},   {"en-GB", true},        {"fr-FR", true},
      {"EN-US", true}, {"e", false},   {std::string(300, 'e'), false}};
  EXPECT_EQ(Lookup(4), u"Riser 1, slot 1");
  for (const auto &[value, withNul] : values) {
    SCOPED_TRACE(value.substr(0, 8));
    variables.SetPlatformLang(value, withNul);
    EXPECT_EQ(Lookup(4), u"Riser 1, slot 1");
  }
  variables.Set(u"PlatformLang", gEfiGlobalVariableGuid, {});
  EXPECT_EQ(Lookup(4), u"Riser 1, slot 1");
  EXPECT_EQ(StringCallsIn("en-US"), 2 * (values.size() + 2));
}

TEST_F(LookupTest, PlatformLanguageChoosesAmongSeveral) {
  std::vector<uint8_t> french = test::PackageArray(
      {test::StringPackage("fr-FR", {u"Francais", u"M0", u"M1", u"Carte 1, emplacement 1"})});
  EFI_GUID bilingual = SLOT_INVENTORY_DRIVER_FILE_GUID;
  bilingual.Data1 ^= 1;
  const UINT8 *arrays[] = {DriverStringPackage, french.data()};
  gHiiHandle = RegisterStringPackages(bilingual, fw.CreateHandle(), arrays, 2);
  ASSERT_NE(gHiiHandle, nullptr);

  variables.SetPlatformLang("fr");
  EXPECT_EQ(Lookup(4), u"Carte 1, emplacement 1");
  EXPECT_EQ(StringCallsIn("fr-FR"), 2u);
  variables.SetPlatformLang("de-DE");
  EXPECT_EQ(Lookup(4), u"Riser 1, slot 1");  // the list's first language
  variables.SetPlatformLang("fr-FR");
  EXPECT_EQ(Lookup(5), u"(none)");  // fr-FR has no string 5
}

TEST_F(LookupTest, NoStringWithoutAPackageListOrProtocol) {
  EFI_HII_HANDLE registered = gHiiHandle;
  gHiiHandle = nullptr;
  EXPECT_EQ(Lookup(4), u"(none)");
  EXPECT_EQ(fw.CountLog("HiiString.GetLanguages unknown handle -> EFI_NOT_FOUND"), 1u);
  EXPECT_EQ(fw.CountLog("HiiString.GetString"), 0u);

  gHiiHandle = registered;
  gHiiString = nullptr;
  size_t logged = fw.log.size();
  EXPECT_EQ(Lookup(4), u"(none)");
  EXPECT_EQ(fw.log.size(), logged);
  CHAR8 *languages = GetSupportedLanguageList(registered);
  EXPECT_EQ(languages, nullptr);
}

TEST_F(LookupTest, EveryFailureReleasesWhatWasTaken) {
  struct Fault {
    const char *service;
    uint64_t call;
  };
  // Language list (both calls and its buffer), PlatformLang (both calls and
  // its buffer), the chosen code, the string (both calls and its buffer).
  const Fault faults[] = {{"GetLanguages", 1}, {"GetLanguages", 2}, {"AllocatePool", 1},
                          {"GetVariable", 1},  {"GetVariable", 2},  {"AllocatePool", 2},
                          {"AllocatePool", 3}, {"GetString", 1},    {"GetString", 2},
                          {"AllocatePool", 4}};
  variables.SetPlatformLang("en-US");
  for (const Fault &fault : faults) {
    SCOPED_TRACE(std::string(fault.service) + " #" + std::to_string(fault.call));
    fw.faults.Clear();
    fw.faults.FailCall(fault.service, fault.call, EFI_DEVICE_ERROR);
    std::u16string text = Lookup(4);
    // Without PlatformLang the fallback still finds the string.
    bool platformOnly = std::string(fault.service) == "GetVariable" ||
                        (std::string(fault.service) == "AllocatePool" && fault.call == 2);
    EXPECT_EQ(text, platformOnly ? u"Riser 1, slot 1" : u"(none)");
    EXPECT_EQ(fw.pool.Outstanding(), 0u) << fw.pool.LeakReport();
  }
}

// ---- The simulated services size and refuse as UEFI firmware does ----

TEST_F(LookupTest, SimulatedServicesSizeAndRefuseLikeFirmware) {
  UINTN size = 3;
  CHAR8 small[3];
  EXPECT_EQ(gHiiString->GetLanguages(gHiiString, gHiiHandle, small, &size), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(gHiiString->GetLanguages(gHiiString, gHiiHandle, nullptr, &size),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(gHiiString->GetLanguages(gHiiString, gHiiHandle, small, nullptr),
            EFI_INVALID_PARAMETER);

  CHAR16 text[32];
  size = 0;
  EXPECT_EQ(gHiiString->GetString(gHiiString, "en-US", gHiiHandle, 4, text, &size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 32u);
  EXPECT_EQ(gHiiString->GetString(gHiiString, "fr-FR", gHiiHandle, 4, text, &size, nullptr),
            EFI_INVALID_LANGUAGE);
  EXPECT_EQ(gHiiString->GetString(gHiiString, "en-US", gHiiHandle, 99, text, &size, nullptr),
            EFI_NOT_FOUND);
  EXPECT_EQ(gHiiString->GetString(gHiiString, "en-US", nullptr, 4, text, &size, nullptr),
            EFI_NOT_FOUND);
  EXPECT_EQ(gHiiString->GetString(gHiiString, nullptr, gHiiHandle, 4, text, &size, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(gHiiString->GetString(gHiiString, "en-US", gHiiHandle, 4, nullptr, &size, nullptr),
            EFI_INVALID_PARAMETER);

  UINT32 attributes = 0;
  variables.SetPlatformLang("en-US");
  size = 2;
  CHAR8 value[8];
  EXPECT_EQ(fw.RuntimeServices()->GetVariable(u"PlatformLang", &gEfiGlobalVariableGuid,
                                              &attributes, &size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(attributes, sim::kGlobalLanguageAttributes);
  EXPECT_EQ(fw.RuntimeServices()->GetVariable(u"PlatformLang", &gEfiGlobalVariableGuid,
                                              nullptr, &size, nullptr),
            EFI_INVALID_PARAMETER);
  size = sizeof(value);
  EXPECT_EQ(fw.RuntimeServices()->GetVariable(u"PlatformLang", &gEfiGlobalVariableGuid,
                                              nullptr, &size, value),
            EFI_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(fw.RuntimeServices()->GetVariable(u"PlatformLang", &SLOT_INVENTORY_DRIVER_FILE_GUID,
                                              nullptr, &size, value),
            EFI_NOT_FOUND);
  EXPECT_EQ(fw.RuntimeServices()->GetVariable(nullptr, &gEfiGlobalVariableGuid, nullptr, &size,
                                              value),
            EFI_INVALID_PARAMETER);
}

}  // namespace
