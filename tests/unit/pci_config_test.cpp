#include <gtest/gtest.h>

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "entry/startup.h"
#include "hw/pci_config.h"
#include "sim/firmware.h"
#include "sim/pci_topology.h"
#include "sim/platform.h"

namespace {

TEST(PciDescriptor, WordsNameBusDeviceAndFunction) {
  struct Case {
    UINT32 bus, device, function, word0;
  };
  const Case cases[] = {
      {0x80, 8, 2, 0x08042000},
      {0x00, 0x17, 0, 0x000B8000},
      {0x00, 0x11, 5, 0x0008D000},
      {0xFF, 0x1F, 7, 0x0FFFF000},
      {0x180, 0x28, 0xA, 0x08042000},  // taken modulo 256, 32 and 8
  };
  for (const Case &c : cases) {
    PciConfigAddressDescriptor d = BuildPciConfigAddressDescriptor(c.bus, c.device, c.function);
    EXPECT_EQ(d.Word[0], c.word0) << std::hex << c.bus << ":" << c.device << "." << c.function;
    EXPECT_EQ(d.Word[1], 0u);
    EXPECT_EQ(d.Word[2], 0x200u);
    EXPECT_EQ(d.Word[3], 0u);
  }
}

class PciConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDriverState();
    topology.Install(fw);
    CaptureFirmwareServices(nullptr, fw.SystemTable());
    ASSERT_EQ(gRegisterAccess, topology.Protocol());
  }
  void TearDown() override { ResetDriverState(); }

  sim::Firmware fw;
  sim::PciTopology topology;
};

TEST_F(PciConfig, LocateReturnsThePlatformsAddressUnchanged) {
  topology.AddFunction(0x80, 8, 2);
  EXPECT_EQ(LocatePciConfigSpace(0x80, 8, 2), reinterpret_cast<UINTN>(topology.Page(0x80, 8, 2)));
  EXPECT_EQ(LocatePciConfigSpace(0x3, 0, 0), reinterpret_cast<UINTN>(topology.AbsentPage()));
  EXPECT_EQ(fw.CountLog("RegisterAccess.ConfigSpaceAddress(80:08.2) -> present"), 1u);
  EXPECT_EQ(fw.CountLog("RegisterAccess.ConfigSpaceAddress(03:00.0) -> absent"), 1u);
  EXPECT_EQ(fw.CountLog("RegisterAccess.ConfigSpaceAddress(80:08.2) -> 0 (malformed"), 0u);
}

// Each socket's word where the platform has it, every byte as it is.
TEST_F(PciConfig, SocketBusNumberBytesAreTakenUnchanged) {
  const UINT32 words[sim::kMaxSockets] = {0x7F3A1611, 0x00FF80EE, 0xD7AE8580, 0x0000FF00};
  std::span<const sim::PlatformSocket> sockets = sim::BuiltInPlatform().sockets;
  std::vector<std::string> where;
  for (UINT32 socket = 0; socket < sockets.size(); socket++) {
    topology.SetSocketBusNumbers(socket, words[socket]);
    char bdf[16];
    std::snprintf(bdf, sizeof(bdf), "%02X:%02X.%X", sockets[socket].bus, sockets[socket].device,
                  sockets[socket].function);
    where.push_back(bdf);
  }
  for (UINT32 socket = 0; socket < sockets.size(); socket++) {
    EXPECT_EQ(ReadSocketBusNumbers(socket), words[socket]) << socket;
  }
  EXPECT_EQ(topology.Requests(), where);
  for (UINT32 socket = 0; socket < sockets.size(); socket++) {
    for (UINT32 k = 0; k < 4; k++) {
      EXPECT_EQ(RootPortBus(socket, k), (words[socket] >> (8 * k)) & 0xFF) << socket << ", " << k;
    }
  }

  // Read afresh every time.
  topology.SetSocketBusNumbers(0, 0x33221100);
  EXPECT_EQ(RootPortBus(0, 2), 0x22);
}

TEST_F(PciConfig, OnlyAnAllOnesIdWordMeansAbsent) {
  topology.AddFunction(0, 0x17, 0);
  topology.AddFunction(0, 0x11, 5, 0x0000FFFF);
  topology.AddFunction(0, 0x1F, 6, 0xFFFFFFFF);
  EXPECT_TRUE(IsFunctionPresent(0, 0x17, 0));
  EXPECT_TRUE(IsFunctionPresent(0, 0x11, 5));
  EXPECT_FALSE(IsFunctionPresent(0, 0x1F, 6));
  EXPECT_FALSE(IsFunctionPresent(0, 0x11, 4));
  EXPECT_FALSE(IsFunctionPresent(0x80, 0x17, 0));
}

TEST_F(PciConfig, ProbeBehindARootPortLooksAtDeviceZeroFunctionZeroOfItsSecondaryBus) {
  topology.AddBridge(0x16, 0, 0x17);
  topology.AddBridge(0x16, 2, 0x18);
  topology.AddBridge(0x16, 3, 0x00);  // secondary bus 0 is taken at face value
  topology.AddFunction(0x17, 0, 0);
  topology.AddFunction(0x18, 0, 1);  // only function 0 counts
  topology.AddFunction(0x18, 1, 0);  // and only device 0
  topology.AddFunction(0x00, 0, 0);

  EXPECT_EQ(SecondaryBus(0x16, 0), 0x17);
  EXPECT_TRUE(IsDevicePresentBehind(0x16, 0));
  EXPECT_FALSE(IsDevicePresentBehind(0x16, 2));
  EXPECT_TRUE(IsDevicePresentBehind(0x16, 3));
  // No bridge: its byte reads 0xFF and bus 0xFF holds nothing.
  EXPECT_EQ(SecondaryBus(0x16, 1), 0xFF);
  EXPECT_FALSE(IsDevicePresentBehind(0x16, 1));
}

// Every way the platform can fail to give an address reads as all ones and
// dereferences nothing; AddressSanitizer builds catch any load from 0.
void ExpectEverythingReadsAbsent() {
  EXPECT_EQ(LocatePciConfigSpace(0x80, 8, 2), 0u);
  EXPECT_EQ(ReadSocketBusNumbers(0), 0xFFFFFFFFu);
  EXPECT_EQ(ReadSocketBusNumbers(1), 0xFFFFFFFFu);
  EXPECT_EQ(RootPortBus(1, 3), 0xFF);
  EXPECT_FALSE(IsFunctionPresent(0, 0x17, 0));
  EXPECT_EQ(SecondaryBus(0x16, 0), 0xFF);
  EXPECT_FALSE(IsDevicePresentBehind(0x16, 0));
}

TEST_F(PciConfig, NoAddressFromThePlatformReadsAllOnes) {
  topology.SetSocketBusNumbers(0, 0x00161600);
  topology.SetSocketBusNumbers(1, 0x00969600);
  topology.AddBridge(0x16, 0, 0x17);
  topology.AddFunction(0x17, 0, 0);
  topology.AddFunction(0, 0x17, 0);
  topology.SetNoAddress(true);
  ExpectEverythingReadsAbsent();
  EXPECT_GT(fw.CountLog("RegisterAccess.ConfigSpaceAddress(00:17.0) -> 0 (no address)"), 0u);
}

TEST_F(PciConfig, NoAddressForTheProbeAloneReadsAbsent) {
  topology.AddBridge(0x16, 0, 0x17);
  topology.AddFunction(0x17, 0, 0);
  fw.faults.FailCall("RegisterAccess.ConfigSpaceAddress", 2, EFI_DEVICE_ERROR);
  EXPECT_FALSE(IsDevicePresentBehind(0x16, 0));
  EXPECT_TRUE(IsDevicePresentBehind(0x16, 0));
}

TEST(PciConfigWithoutPlatform, AbsentProtocolReadsAllOnes) {
  ResetDriverState();
  sim::Firmware fw;
  CaptureFirmwareServices(nullptr, fw.SystemTable());
  ASSERT_EQ(gRegisterAccess, nullptr);
  ExpectEverythingReadsAbsent();
}

TEST(PciConfigWithoutPlatform, ProtocolWithoutItsMemberReadsAllOnes) {
  ResetDriverState();
  RegisterAccessProtocol empty{};
  gRegisterAccess = &empty;
  ExpectEverythingReadsAbsent();
  ResetDriverState();
}

}  // namespace
