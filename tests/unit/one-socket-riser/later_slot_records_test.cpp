// The one-socket platform's SMBIOS 3.5 slot records, through the driver's
// entry point: the exact bytes of its bifurcated OCP slot, In use from a card
// behind its peer alone (usageFromPeers), and each riser slot's lanes,
// physical width and height.
#include <gtest/gtest.h>

#include <vector>

#include "sim/simulated_board.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSocket0 = 0x00201000;  // group 1 on bus 0x10, group 2 on 0x20

// The slot records a run adds; riser positions upper, lower.
std::vector<Bytes> SlotRecords(std::initializer_list<uint8_t> ids, std::vector<sim::BridgeSetting> bridges,
                               std::vector<sim::FunctionSetting> devices) {
  sim::Board board;
  size_t position = 0;
  for (uint8_t id : ids) board.riserIds[position++] = id;
  board.sockets[0] = kSocket0;
  board.bridges = std::move(bridges);
  board.devices = std::move(devices);
  sim::SimulatedBoard simulated(board);
  sim::RunResult result = simulated.Run();
  EXPECT_EQ(result.outstandingAllocations, 0u);
  std::vector<Bytes> slots;
  for (const sim::SmbiosRecord &record : simulated.AddedRecords()) {
    if (record.Type() == 9) slots.push_back(record.bytes);
  }
  return slots;
}

TEST(LaterSlotRecords, OcpSlotIsInUseFromACardBehindItsOwnRootPortOrItsPeer) {
  // Root ports: the OCP slot's at 20:00 (secondary 0x21), its peer's at 20:03 (0x22).
  std::vector<sim::BridgeSetting> ports = {{0x20, 0, 0x21}, {0x20, 3, 0x22}};
  const Bytes peerOnly = {
      9, 0x1D, 0, 0, 1, 0xBD, 0x0D, 4, 3, 10, 0, 0x04, 0x03, 0, 0, 0x20, 0x00,  // 2.6 fields
      8, 1, 0, 0, 0x20, 0x18, 8,                                                 // x8 base, peer 20:03.0 x8
      4, 0x0D, 0xF0, 0x07, 0x00,  // Gen 4, x16 physical, 20.32 mm, height not applicable
      'O', 'C', 'P', ' ', '3', '.', '0', ' ', 's', 'l', 'o', 't', 0, 0};
  EXPECT_EQ(SlotRecords({3, 0}, ports, {{0x22, 0, 0}}).at(0), peerOnly);
  EXPECT_EQ(SlotRecords({3, 0}, ports, {{0x21, 0, 0}}).at(0)[7], 4);
  EXPECT_EQ(SlotRecords({3, 0}, ports, {}).at(0)[7], 3);
}

TEST(LaterSlotRecords, RiserSlotsGiveTheirLanesPhysicalWidthAndHeight) {
  struct Case {
    uint8_t upper, lower;
    size_t record;  // among the slot records, the OCP slot's first
    uint8_t lanes, physical, height;
  };
  const Case cases[] = {
      {1, 0, 1, 16, 0x0D, 3},  // upper one-slot card wired x16
      {2, 0, 1, 8, 0x0D, 3},   // ... wired x8 for identifier 2, its widest wiring's connector
      {0, 0, 2, 8, 0x0B, 3},   // upper two-slot card's second slot: x8 in x8
      {3, 2, 2, 8, 0x0D, 4},   // lower two-slot card's second slot: x8 in x16, low profile
      {3, 3, 3, 4, 0x0A, 4},   // lower three-slot card's third slot
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("upper " + std::to_string(c.upper) + ", lower " + std::to_string(c.lower));
    Bytes slot = SlotRecords({c.upper, c.lower}, {}, {}).at(c.record);
    ASSERT_EQ(slot[1], 0x18);
    EXPECT_EQ(slot[0x11], c.lanes);
    EXPECT_EQ(slot[0x12], 0);  // no peers
    EXPECT_EQ(slot[0x13], 4);  // Gen 4
    EXPECT_EQ(slot[0x14], c.physical);
    EXPECT_EQ(slot[0x15] | slot[0x16] << 8, 2032);
    EXPECT_EQ(slot[0x17], c.height);
  }
}

}  // namespace
