#include <gtest/gtest.h>

#include <vector>

#include "entry/startup.h"
#include "inventory/riser_ids.h"
#include "sim/firmware.h"
#include "sim/sideband_window.h"

namespace {

// The strap pads in the order the board numbers them, most significant first.
constexpr uint32_t kStraps[8] = {0x0102000F, 0x01020010, 0x01020011, 0x01030015,
                                 0x01030016, 0x01030017, 0x01030011, 0x01030012};

class RiserIdsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDriverState(); }

  // Pad i takes bit (7 - i) of levels.
  void SetLevels(unsigned levels, unsigned foreignMask = 0) {
    for (unsigned i = 0; i < 8; i++) {
      int owner = (foreignMask >> (7 - i)) & 1 ? 1 : 0;
      ASSERT_TRUE(window.SetPad(kStraps[i], (levels >> (7 - i)) & 1, owner));
    }
  }

  sim::Firmware fw;
  sim::SidebandWindow window{&fw};
};

void ExpectIds(const RiserIds &ids, unsigned r1, unsigned r2, unsigned r3) {
  EXPECT_EQ(ids.riser1, r1);
  EXPECT_EQ(ids.riser2, r2);
  EXPECT_EQ(ids.riser3, r3);
}

TEST_F(RiserIdsTest, AllPadsHighReadsEveryRiserAbsentInTableOrder) {
  window.SetRiserStraps({7, 7, 3});
  ExpectIds(ReadRiserIds(), 7, 7, 3);

  std::vector<uint64_t> expected;
  for (uint32_t pad : kStraps) {
    expected.push_back(sim::SidebandWindow::PadOwnershipAddress(pad));
    expected.push_back(sim::SidebandWindow::PadConfigurationAddress(pad));
  }
  EXPECT_EQ(window.Reads(), expected);
}

TEST_F(RiserIdsTest, SpecificStrapPatterns) {
  SetLevels(0b01100000);  // pads 1-3 read 0, 2, 2
  ExpectIds(ReadRiserIds(), 3, 0, 0);
  SetLevels(0b00000010);  // pad 7 high, pad 8 low
  ExpectIds(ReadRiserIds(), 0, 0, 2);
}

TEST_F(RiserIdsTest, EveryStrapCombination) {
  for (unsigned levels = 0; levels < 256; levels++) {
    SetLevels(levels);
    RiserIds ids = ReadRiserIds();
    unsigned bits[8];
    for (unsigned i = 0; i < 8; i++) {
      bits[i] = (levels >> (7 - i)) & 1;
    }
    EXPECT_EQ(ids.riser1, bits[0] * 4 + bits[1] * 2 + bits[2]) << levels;
    EXPECT_EQ(ids.riser2, bits[3] * 4 + bits[4] * 2 + bits[5]) << levels;
    EXPECT_EQ(ids.riser3, bits[6] * 2 + bits[7]) << levels;
  }
}

TEST_F(RiserIdsTest, PadOwnedByAnotherAgentCountsAsLow) {
  // Pad 4 foreign (and high), pads 5 and 6 high.
  SetLevels(0b00011100, 0b00010000);
  ExpectIds(ReadRiserIds(), 0, 3, 0);

  // Each pad in turn: every pad high, that one foreign.
  for (unsigned i = 0; i < 8; i++) {
    unsigned bit = 1u << (7 - i);
    SetLevels(0xFF, bit);
    RiserIds ids = ReadRiserIds();
    unsigned levels = 0xFF & ~bit;
    ExpectIds(ids, levels >> 5, (levels >> 2) & 7, levels & 3);
  }
}

TEST_F(RiserIdsTest, EveryCallReadsThePadsAfresh) {
  window.SetRiserStraps({5, 2, 1});
  ExpectIds(ReadRiserIds(), 5, 2, 1);
  window.SetRiserStraps({6, 7, 0});
  ExpectIds(ReadRiserIds(), 6, 7, 0);
  EXPECT_EQ(window.Reads().size(), 32u);
}

TEST(RiserIdsUnbacked, NothingBehindTheWindowReadsAllZero) {
  ResetDriverState();
  ExpectIds(ReadRiserIds(), 0, 0, 0);
}

}  // namespace
