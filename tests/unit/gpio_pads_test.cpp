#include <gtest/gtest.h>

#include <vector>

#include "entry/startup.h"
#include "hw/gpio_pads.h"
#include "sim/firmware.h"
#include "sim/sideband_window.h"

namespace {

constexpr UINT32 kUntouched = 0xA5A5A5A5;

class GpioPads : public ::testing::Test {
 protected:
  void SetUp() override { ResetDriverState(); }

  sim::Firmware fw;
  sim::SidebandWindow window{&fw};
};

TEST_F(GpioPads, Group2Pad15ReadsOwnershipAndConfigurationAtTheirAddresses) {
  window.SetPad(0x0102000F, 1, 0);
  UINT32 value = kUntouched;
  EXPECT_EQ(ReadGpioPadInput(0x0102000F, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(window.Reads(), (std::vector<uint64_t>{0xFDAE0024, 0xFDAE0478}));
  EXPECT_EQ(fw.CountLog("Sideband.Read(0xFDAE0478) -> 0x00000002"), 1u);

  window.SetPad(0x0102000F, 0, 0);
  EXPECT_EQ(ReadGpioPadInput(0x0102000F, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0u);
}

TEST_F(GpioPads, Group3Pad21ReadsOwnershipAndConfigurationAtTheirAddresses) {
  window.SetPad(0x01030015, 1, 0);
  UINT32 value = kUntouched;
  EXPECT_EQ(ReadGpioPadInput(0x01030015, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(window.Reads(), (std::vector<uint64_t>{0xFDAE0034, 0xFDAE0568}));
}

TEST_F(GpioPads, OwnershipIsTheLowTwoBitsOfThePadsNibble) {
  // Pad 15: bits 28-29 of the register at 0x24. Every neighbouring bit set,
  // including the nibble's upper two, must not make it foreign.
  window.SetRegister(0xAE, 0x24, 0xCFFFFFFF);
  window.SetRegister(0xAE, 0x478, 0xFFFFFFFF);
  UINT32 owner = kUntouched;
  EXPECT_EQ(ReadGpioPadOwner(0x0102000F, &owner), EFI_SUCCESS);
  EXPECT_EQ(owner, 0u);
  UINT32 value = kUntouched;
  EXPECT_EQ(ReadGpioPadInput(0x0102000F, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 2u) << "only bit 1 of the configuration word is the input";

  for (UINT32 agent : {1u, 2u, 3u}) {
    window.SetRegister(0xAE, 0x24, agent << 28);
    EXPECT_EQ(ReadGpioPadOwner(0x0102000F, &owner), EFI_SUCCESS);
    EXPECT_EQ(owner, agent);
  }

  // Pad 21 of group 3: bits 20-21 of the register at 0x34.
  window.SetRegister(0xAE, 0x34, 0x2u << 20);
  EXPECT_EQ(ReadGpioPadOwner(0x01030015, &owner), EFI_SUCCESS);
  EXPECT_EQ(owner, 2u);
}

TEST_F(GpioPads, ConfigurationWordIsMaskedToTheInputBit) {
  window.SetRegister(0xAE, 0x478, 0xFFFFFFFD);
  UINT32 value = kUntouched;
  EXPECT_EQ(ReadGpioPadInput(0x0102000F, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0u);
}

TEST_F(GpioPads, PadOwnedByAnotherAgentIsRefusedWithoutItsValue) {
  for (int agent : {1, 2, 3}) {
    window.SetPad(0x01030015, 1, agent);
    window.ClearReads();
    UINT32 value = kUntouched;
    EXPECT_EQ(ReadGpioPadInput(0x01030015, &value), EFI_UNSUPPORTED) << "owner " << agent;
    EXPECT_EQ(value, kUntouched);
    EXPECT_EQ(window.Reads(), (std::vector<uint64_t>{0xFDAE0034}))
        << "the configuration word of a foreign pad is not read";
  }
}

TEST_F(GpioPads, PadsThatCannotBeReadAreRefusedBeforeAnyRegisterRead) {
  struct Case {
    GpioPad pad;
    EFI_STATUS status;
  };
  const Case cases[] = {
      {0x0202000F, EFI_UNSUPPORTED},        // another chipset
      {0x0002000F, EFI_UNSUPPORTED},        // chipset 0
      {0x010D0000, EFI_INVALID_PARAMETER},  // group 13 does not exist
      {0x01FF0000, EFI_INVALID_PARAMETER},
      {0x01020018, EFI_INVALID_PARAMETER},  // group 2 has 24 pads
      {0x0104000D, EFI_INVALID_PARAMETER},  // group 4 has 13 pads
      {0x0102100F, EFI_INVALID_PARAMETER},  // pad number is 16 bits, not 8
      {0x0102FFFF, EFI_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    window.ClearReads();
    UINT32 value = kUntouched;
    EXPECT_EQ(ReadGpioPadInput(c.pad, &value), c.status) << std::hex << c.pad;
    EXPECT_EQ(value, kUntouched) << std::hex << c.pad;
    EXPECT_TRUE(window.Reads().empty()) << std::hex << c.pad;
  }
}

TEST_F(GpioPads, OwnerQueryChecksGroupAndPadButNotTheChipset) {
  UINT32 owner = kUntouched;
  EXPECT_EQ(ReadGpioPadOwner(0x010D0000, &owner), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadGpioPadOwner(0x01020018, &owner), EFI_INVALID_PARAMETER);
  EXPECT_EQ(owner, kUntouched);
  EXPECT_TRUE(window.Reads().empty());

  window.SetPad(0x0102000F, 0, 3);
  EXPECT_EQ(ReadGpioPadOwner(0x0202000F, &owner), EFI_SUCCESS);
  EXPECT_EQ(owner, 3u);
}

// Every pad of every group against the hardware model's own layout, and the
// first pad past each group's end.
TEST_F(GpioPads, EveryPadReadsTheRegistersTheHardwareHasForIt) {
  for (UINT32 group = 0; group < GPIO_GROUP_COUNT; group++) {
    for (UINT32 number = 0; number <= GpioGroupTable[group].PadCount; number++) {
      GpioPad pad = 0x01000000 | group << 16 | number;
      bool exists = window.SetPad(pad, 1, 0);
      EXPECT_EQ(exists, number < GpioGroupTable[group].PadCount) << std::hex << pad;
      window.ClearReads();
      UINT32 value = kUntouched;
      EFI_STATUS status = ReadGpioPadInput(pad, &value);
      if (!exists) {
        EXPECT_EQ(status, EFI_INVALID_PARAMETER) << std::hex << pad;
        continue;
      }
      EXPECT_EQ(status, EFI_SUCCESS) << std::hex << pad;
      EXPECT_EQ(value, 2u) << std::hex << pad;
      EXPECT_EQ(window.Reads(),
                (std::vector<uint64_t>{sim::SidebandWindow::PadOwnershipAddress(pad),
                                       sim::SidebandWindow::PadConfigurationAddress(pad)}))
          << std::hex << pad;
    }
  }
}

TEST(GpioPadsUnbacked, WindowWithNothingBehindReadsHostOwnedAndLow) {
  ResetDriverState();
  UINT32 value = kUntouched;
  EXPECT_EQ(ReadGpioPadInput(0x0102000F, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0u);
}

}  // namespace
