// The simulated boot services catch what a careless driver would get away with.
#include <gtest/gtest.h>

#include "include/guids.h"
#include "sim/firmware.h"
#include "sim/loaded_image.h"

namespace {

TEST(FirmwareModel, PoolReportsLeaksDoubleAndForeignFrees) {
  sim::Firmware firmware;
  EFI_BOOT_SERVICES *boot = firmware.BootServices();
  VOID *first = nullptr;
  VOID *second = nullptr;
  ASSERT_EQ(boot->AllocatePool(EfiBootServicesData, 24, &first), EFI_SUCCESS);
  ASSERT_EQ(boot->AllocatePool(EfiBootServicesData, 8, &second), EFI_SUCCESS);
  EXPECT_EQ(firmware.pool.Outstanding(), 2u);
  EXPECT_EQ(boot->FreePool(first), EFI_SUCCESS);
  EXPECT_EQ(boot->FreePool(first), EFI_INVALID_PARAMETER);
  int local = 0;
  EXPECT_EQ(boot->FreePool(&local), EFI_INVALID_PARAMETER);
  ASSERT_EQ(firmware.pool.Errors().size(), 2u);
  EXPECT_NE(firmware.pool.Errors()[0].find("double free"), std::string::npos);
  EXPECT_NE(firmware.pool.Errors()[1].find("never gave out"), std::string::npos);
  EXPECT_NE(firmware.pool.LeakReport().find("#2 of 8 bytes"), std::string::npos);
  EXPECT_EQ(boot->AllocatePool(EfiMaxMemoryType, 8, &first), EFI_INVALID_PARAMETER);
  boot->FreePool(second);
}

TEST(FirmwareModel, FaultPlanFailsTheKthCallOrEveryCallFromIt) {
  sim::Firmware firmware;
  EFI_BOOT_SERVICES *boot = firmware.BootServices();
  firmware.faults.FailCall("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
  firmware.faults.FailFrom("AllocatePool", 4, EFI_OUT_OF_RESOURCES);
  std::vector<EFI_STATUS> statuses;
  for (int i = 0; i < 5; i++) {
    VOID *buffer = nullptr;
    statuses.push_back(boot->AllocatePool(EfiBootServicesData, 4, &buffer));
    if (buffer != nullptr) boot->FreePool(buffer);
  }
  EXPECT_EQ(statuses, (std::vector<EFI_STATUS>{EFI_SUCCESS, EFI_OUT_OF_RESOURCES, EFI_SUCCESS,
                                               EFI_OUT_OF_RESOURCES, EFI_OUT_OF_RESOURCES}));
  EXPECT_EQ(firmware.faults.FaultsInjected(), 3u);
  EXPECT_EQ(firmware.pool.Outstanding(), 0u);
}

TEST(FirmwareModel, FaultPlanCountsAServiceAlikeByLiteralAndByText) {
  sim::FaultPlan plan;
  std::string name = "GetString";
  plan.FailCall(name, 3, EFI_DEVICE_ERROR);
  EXPECT_FALSE(plan.Check("GetString").has_value());
  EXPECT_FALSE(plan.Check(std::string_view(name)).has_value());
  EXPECT_EQ(plan.Check("GetString"), EFI_DEVICE_ERROR);
  EXPECT_EQ(plan.Calls("GetString"), 3u);
  plan.Clear();
  EXPECT_FALSE(plan.Check("GetString").has_value());
  EXPECT_EQ(plan.Calls(name), 1u);
}

// Entries are formatted when read, read lines stay put as entries are added,
// and every field of a template expands as documented.
TEST(FirmwareModel, CallLogFormatsEntriesWhenRead) {
  sim::CallLog log;
  log.Add("Sideband.Read", "(0x{x8}) -> 0x{x8}").Value(0x1FD000000).Value(2);
  EXPECT_EQ(log[0], "Sideband.Read(0x1FD000000) -> 0x00000002");
  const EFI_GUID unknown = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  log.Add("LocateProtocol", "({g}) -> {s}").Guid(unknown).Status(EFI_NOT_FOUND);
  log.Add("HiiString.GetString", "(id={d}, {t}) -> {s}").Value(12).Text("fr-FR").Status(0x55);
  log.Add("Smbios.GetNext", "(type={d}) -> 0x{x4}").Value(41).Value(0xA);
  log.AddLine("unexpected firmware service called");
  EXPECT_EQ(std::vector<std::string>(log),
            (std::vector<std::string>{
                "Sideband.Read(0x1FD000000) -> 0x00000002",
                "LocateProtocol(01020304-0506-0708-090A-0B0C0D0E0F10) -> EFI_NOT_FOUND",
                "HiiString.GetString(id=12, fr-FR) -> 0x55",
                "Smbios.GetNext(type=41) -> 0x000A", "unexpected firmware service called"}));
  EXPECT_TRUE(log.Entries()[3].Is("Smbios.GetNext"));
  EXPECT_FALSE(log.Entries()[3].Is("Smbios.Get"));
}

TEST(FirmwareModel, ProtocolLookupsAnswerAsUefiDefinesThem) {
  sim::Firmware firmware;
  EFI_BOOT_SERVICES *boot = firmware.BootServices();
  int token = 0;
  VOID *interface = &token;
  EXPECT_EQ(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_NOT_FOUND);
  EXPECT_EQ(interface, nullptr);
  EXPECT_EQ(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, nullptr), EFI_INVALID_PARAMETER);

  EFI_HANDLE handle = firmware.InstallProtocol(gEfiSmbiosProtocolGuid, &token);
  EXPECT_EQ(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_SUCCESS);
  EXPECT_EQ(interface, &token);
  EXPECT_EQ(boot->HandleProtocol(handle, &gEfiSmbiosProtocolGuid, &interface), EFI_SUCCESS);
  EXPECT_EQ(boot->HandleProtocol(handle, &gEfiLoadedImageProtocolGuid, &interface), EFI_UNSUPPORTED);

  // Calls are counted from the first; fail the next one only.
  firmware.faults.FailCall("LocateProtocol:Smbios", firmware.faults.Calls("LocateProtocol:Smbios") + 1,
                           EFI_DEVICE_ERROR);
  EXPECT_EQ(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_DEVICE_ERROR);
  EXPECT_EQ(boot->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_SUCCESS);
}

// As OVMF's DXE core hands a dispatched driver over: the file path is the
// firmware-file node alone, the device handle is the volume's.
TEST(FirmwareModel, DispatchedImageSitsOnItsVolumeHandle) {
  sim::Firmware firmware;
  sim::LoadedImage image{firmware, SLOT_INVENTORY_DRIVER_FILE_GUID};
  EFI_BOOT_SERVICES *boot = firmware.BootServices();
  VOID *interface = nullptr;
  ASSERT_EQ(boot->HandleProtocol(image.Handle(), &gEfiLoadedImageProtocolGuid, &interface),
            EFI_SUCCESS);
  auto *loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(interface);
  auto *file = reinterpret_cast<const MEDIA_FW_VOL_FILEPATH_DEVICE_PATH *>(loaded->FilePath);
  EXPECT_EQ(file->Header.Length[0], sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH));
  EXPECT_TRUE(GuidsEqual(file->FvFileName, SLOT_INVENTORY_DRIVER_FILE_GUID));
  EXPECT_EQ(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(file + 1)->Type, END_DEVICE_PATH_TYPE);
  ASSERT_EQ(boot->HandleProtocol(loaded->DeviceHandle, &EFI_DEVICE_PATH_PROTOCOL_GUID, &interface),
            EFI_SUCCESS);
  auto *volume = static_cast<const MEDIA_FW_VOL_DEVICE_PATH *>(interface);
  EXPECT_EQ(volume->Header.SubType, MEDIA_PIWG_FW_VOL_DP);
  EXPECT_TRUE(GuidsEqual(volume->FvName, sim::kDxeVolumeName));
}

}  // namespace
