// The QEMU harness's freestanding parts that need no firmware: its scenario
// file reader and its register-access protocol's address mapping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "include/guids.h"
#include "include/uefi_system_table.h"
#include "tests/uefi/common/config_space.cpp"
#include "tests/uefi/common/scenario.cpp"

namespace {

Scenario Parse(const std::string &text) {
  Scenario scenario = {};
  ParseScenario(text.data(), text.size(), &scenario);
  return scenario;
}

std::string Area(const EarlierRecord &record) {
  return std::string(record.Strings, record.StringsLength);
}

TEST(HarnessScenario, ReadsEveryKey) {
  Scenario s = Parse(
      "# comment\r\nname=cards\r\nsocket=0x00,8,2,0xCC,0x30001000\r\nsocket=0x80,0x08,2,204,1615872000\r\n"
      "window=0x10\r\nsideband=0xFDAE0024\r\n"
      "platformlang=fr-FR\r\nsmbios=9:Slot A|Slot B\r\nsmbios=41\r\nprobes=1\r\nreport=1\r\nfuture=ignored\r\n"
      "driver=53ec4b36-F675-4AD3-923D-9BF91E733E7F");
  constexpr EFI_GUID secondPlatform = {
      0x53EC4B36, 0xF675, 0x4AD3, {0x92, 0x3D, 0x9B, 0xF9, 0x1E, 0x73, 0x3E, 0x7F}};
  EXPECT_STREQ(s.Name, "cards");
  ASSERT_EQ(s.SocketCount, 2u);
  EXPECT_EQ(s.Sockets[0].Bus, 0x00);
  EXPECT_EQ(s.Sockets[0].Word, 0x30001000u);
  EXPECT_EQ(s.Sockets[1].Bus, 0x80);
  EXPECT_EQ(s.Sockets[1].Device, 8);
  EXPECT_EQ(s.Sockets[1].Function, 2);
  EXPECT_EQ(s.Sockets[1].Offset, 0xCC);
  EXPECT_EQ(s.Sockets[1].Word, 0x60504000u);
  ASSERT_EQ(s.SidebandCount, 1u);
  EXPECT_EQ(s.SidebandRegisters[0], 0xFDAE0024u);
  EXPECT_TRUE(s.HasWindow);
  EXPECT_EQ(s.WindowDevice, 0x10);
  EXPECT_EQ(s.Language, LanguageAction::Set);
  EXPECT_STREQ(s.PlatformLang, "fr-FR");
  ASSERT_EQ(s.RecordCount, 2u);
  EXPECT_EQ(s.Records[0].Type, 9);
  EXPECT_EQ(Area(s.Records[0]), std::string("Slot A\0Slot B\0\0", 15));
  EXPECT_EQ(s.Records[1].Type, 41);
  EXPECT_EQ(Area(s.Records[1]), std::string("\0\0", 2));
  EXPECT_TRUE(s.Probes);
  EXPECT_TRUE(s.ReportOnly);
  EXPECT_TRUE(s.HasDriver);
  EXPECT_TRUE(GuidsEqual(s.DriverFileGuid, secondPlatform));
  EXPECT_EQ(s.RejectedLines, 0u);
}

TEST(HarnessScenario, DefaultsWithoutKeys) {
  Scenario s = Parse("");
  EXPECT_FALSE(s.HasWindow);
  EXPECT_EQ(s.Language, LanguageAction::Keep);
  EXPECT_EQ(s.RecordCount, 0u);
  EXPECT_EQ(s.SocketCount, 0u);
  EXPECT_FALSE(s.HasDriver);  // no board's driver is assumed
  EXPECT_EQ(Parse("platformlang=-\n").Language, LanguageAction::Delete);
}

TEST(HarnessScenario, RejectsValuesItCannotHold) {
  std::string longName = "name=" + std::string(SCENARIO_TEXT_LIMIT, 'n');
  std::string longString = "smbios=9:" + std::string(SCENARIO_TEXT_LIMIT + 1, 's');
  const char *bad[] = {"socket=0,8,2,0xCC,0x100000000", "socket=0,8,2,0xCC,12z", "socket=0,8,2,0xCC,0x",
                       "socket=0,8,2,0xCC", "socket=0,8,2,0xCC,1,2", "socket=0,32,2,0xCC,1",
                       "socket=0,8,8,0xCC,1", "socket=0x100,8,2,0xCC,1", "socket=0,8,2,0xCE,1",
                       "socket=0,8,2,0x100,1", "socket=0,8,2,,1", "sideband=0xFDAE0026", "window=32",
                       "smbios=256", "smbios=9:", "smbios=9:a||b", "smbios=9:a|",
                       "platformlang=", "no equals sign",
                       "driver=53EC4B36-F675-4AD3-923D-9BF91E733E7",
                       "driver=53EC4B36-F675-4AD3-923D-9BF91E733E7FF",
                       "driver=53EC4B36F-675-4AD3-923D-9BF91E733E7F",
                       "driver=53EC4B36-F675-4AD3-923D-9BF91E733E7G",
                       "driver=0x3EC4B36-F675-4AD3-923D-9BF91E733E7F"};
  for (const char *line : bad) {
    Scenario s = Parse(line);
    EXPECT_EQ(s.RejectedLines, 1u) << line;
    EXPECT_EQ(s.RecordCount + s.SocketCount + s.SidebandCount, 0u) << line;
    EXPECT_FALSE(s.HasDriver) << line;
  }
  EXPECT_EQ(Parse(longName).RejectedLines, 1u);
  EXPECT_EQ(Parse(longString).RejectedLines, 1u);
  EXPECT_EQ(Parse("smbios=9:" + std::string(SCENARIO_TEXT_LIMIT, 's')).RecordCount, 1u);
}

TEST(HarnessScenario, KeepsAtMostEachLimit) {
  std::string text;
  for (UINTN i = 0; i < SCENARIO_RECORD_LIMIT + 2; i++) {
    text += "smbios=9\n";
  }
  for (UINTN i = 0; i < SCENARIO_SOCKET_LIMIT + 1; i++) {
    text += "socket=0,4," + std::to_string(i % 8) + ",0x40,1\n";
  }
  for (UINTN i = 0; i < SCENARIO_SIDEBAND_LIMIT + 1; i++) {
    text += "sideband=0xFD110400\n";
  }
  Scenario s = Parse(text);
  EXPECT_EQ(s.RecordCount, SCENARIO_RECORD_LIMIT);
  EXPECT_EQ(s.SocketCount, SCENARIO_SOCKET_LIMIT);
  EXPECT_EQ(s.SidebandCount, SCENARIO_SIDEBAND_LIMIT);
  EXPECT_EQ(s.RejectedLines, 4u);
}

// Four sockets: two share 00:04.0 at offsets 0x40 and 0x50 (one at offset 0,
// over the ids), the others at 00:08.2 and 80:08.2 offset 0xCC.
struct Pages {
  alignas(4096) UINT8 served[SCENARIO_SOCKET_LIMIT][CONFIG_PAGE_SIZE];
  alignas(4096) UINT8 absent[CONFIG_PAGE_SIZE];
};

ConfigSpaceMap MakeMap(Pages &pages) {
  Scenario plan = Parse("socket=0,8,2,0xCC,0x30001000\nsocket=0x80,8,2,0xCC,0x60504000\n"
                        "socket=0,4,0,0x40,0x11223344\nsocket=0,4,0,0x50,0x55667788\n");
  ConfigSpaceMap map = {};
  map.EcamBase = 0xB0000000;
  map.StartBus = 0;
  map.EndBus = 0x7F;
  ServeSocketFunctions(plan, reinterpret_cast<UINTN>(pages.served), reinterpret_cast<UINTN>(pages.absent), &map);
  return map;
}

UINT32 Load32(UINTN address) {
  UINT32 value;
  std::memcpy(&value, reinterpret_cast<const void *>(address), sizeof(value));
  return value;
}

TEST(HarnessConfigSpace, EcamAddressesFollowTheDescriptor) {
  Pages pages;
  ConfigSpaceMap map = MakeMap(pages);
  EXPECT_EQ(MapConfigAddress(map, 0x000B8000), 0xB00B8000u);  // 00:17.0
  EXPECT_EQ(MapConfigAddress(map, 0x0008D000), 0xB008D000u);  // 00:11.5
  EXPECT_EQ(MapConfigAddress(map, (0x31u << 20) | (2u << 15)), 0xB3110000u);
}

TEST(HarnessConfigSpace, SocketFunctionsComeFromTheHarnessPages) {
  Pages pages;
  ConfigSpaceMap map = MakeMap(pages);
  ASSERT_EQ(map.ServedCount, 3u);  // 00:04.0 serves two sockets
  UINTN socket0 = MapConfigAddress(map, 0x00042000);
  UINTN socket1 = MapConfigAddress(map, 0x08042000);
  UINTN shared = MapConfigAddress(map, 0x00020000);
  EXPECT_EQ(Load32(socket0 + 0xCC), 0x30001000u);
  EXPECT_EQ(Load32(socket1 + 0xCC), 0x60504000u);
  EXPECT_EQ(Load32(shared + 0x40), 0x11223344u);
  EXPECT_EQ(Load32(shared + 0x50), 0x55667788u);
  EXPECT_EQ(Load32(socket0), 0x20348086u);
  EXPECT_EQ(Load32(shared + 0x44), 0u);
  // Other functions of those devices, and those functions on other buses, are ordinary.
  EXPECT_EQ(MapConfigAddress(map, 0x00041000), 0xB0041000u);
  EXPECT_EQ(MapConfigAddress(map, 0x01042000), 0xB1042000u);
  EXPECT_EQ(MapConfigAddress(map, 0x00021000), 0xB0021000u);
}

TEST(HarnessConfigSpace, BusesOutsideTheWindowReadAbsent) {
  Pages pages;
  ConfigSpaceMap map = MakeMap(pages);
  UINTN address = MapConfigAddress(map, 0x0FF00000);  // bus 0xFF: beyond EndBus
  EXPECT_EQ(address, map.AbsentPage);
  EXPECT_EQ(Load32(address), 0xFFFFFFFFu);
  EXPECT_EQ(pages.absent[0x19], 0xFF);
  map.EcamBase = 0;  // no MCFG at all
  EXPECT_EQ(MapConfigAddress(map, 0x000B8000), map.AbsentPage);
}

RegisterAccessProtocol *gInstalled = nullptr;
EFI_STATUS EFIAPI FakeInstall(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                              VOID *interface) {
  if (handle == nullptr || *handle != nullptr || type != EFI_NATIVE_INTERFACE ||
      !GuidsEqual(*guid, gRegisterAccessProtocolGuid)) {
    return EFI_INVALID_PARAMETER;
  }
  gInstalled = static_cast<RegisterAccessProtocol *>(interface);
  *handle = reinterpret_cast<EFI_HANDLE>(0x1234);
  return EFI_SUCCESS;
}

TEST(HarnessConfigSpace, InstalledProtocolAnswersThroughItsFourthMember) {
  Pages pages;
  ConfigSpaceMap map = MakeMap(pages);
  EFI_BOOT_SERVICES services = {};
  services.InstallProtocolInterface = reinterpret_cast<VOID *>(&FakeInstall);
  ASSERT_EQ(InstallRegisterAccess(&services, map), EFI_SUCCESS);
  ASSERT_NE(gInstalled, nullptr);
  PciConfigAddressDescriptor descriptor = {{0x08042000, 0, PCI_DESCRIPTOR_WORD2, 0}};
  EXPECT_EQ(gInstalled->ConfigSpaceAddress(&descriptor), map.Served[1].Page);
  EXPECT_EQ(ConfigAddress(0, 0x17, 0), 0xB00B8000u);
}

}  // namespace
