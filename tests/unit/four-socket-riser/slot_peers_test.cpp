// The four-socket platform's SMBIOS 3.2 slot records: a card behind a
// bifurcated slot's peer alone leaves the slot Available (its description
// takes no usage from peers), and the rear card's records, one of them longer
// by its peer group, each keep their own designation in the shared buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/simulated_board.h"

namespace {

std::vector<sim::SmbiosRecord> SlotRecords(uint8_t front, uint8_t rear, const sim::Board &fitted) {
  sim::Board board = fitted;
  board.riserIds[0] = front;
  board.riserIds[1] = rear;
  sim::SimulatedBoard simulated(board);
  EXPECT_EQ(simulated.Run().outstandingAllocations, 0u);
  std::vector<sim::SmbiosRecord> slots;
  for (const sim::SmbiosRecord &record : simulated.AddedRecords()) {
    if (record.Type() == 9) slots.push_back(record);
  }
  return slots;
}

TEST(SlotPeers, FrontSlotStaysAvailableWithACardBehindItsPeerOnly) {
  sim::Board board;
  board.sockets[0] = 0x00201000;  // group 2 on bus 0x20: the front slot at 20:00, its peer at 20:01
  board.bridges = {{0x20, 0, 0x21}, {0x20, 1, 0x22}};
  board.devices = {{0x22, 0, 0}};
  sim::SmbiosRecord front = SlotRecords(0, 255, board).at(1);
  const std::vector<uint8_t> formatted = {9, 0x18, 1, 0, 1, 0xC3, 0x0D, 3, 4, 1, 0, 0x04, 0x01, 0, 0,
                                          0x20, 0x00, 8, 1, 0, 0, 0x20, 0x08, 8};
  EXPECT_EQ(std::vector<uint8_t>(front.bytes.begin(), front.bytes.begin() + 0x18), formatted);
  EXPECT_EQ(front.Strings(), std::vector<std::string>{"Front riser, x16 slot"});
}

TEST(SlotPeers, RecordsOfOneCardKeepTheirDesignationsAsTheirLengthsChange) {
  std::vector<sim::SmbiosRecord> slots = SlotRecords(1, 90, sim::Board{});
  ASSERT_EQ(slots.size(), 9u);  // the OCP slot, then the eight-slot card's
  for (size_t slot = 1; slot <= 8; slot++) {
    const sim::SmbiosRecord &record = slots[slot];
    EXPECT_EQ(record.Length(), slot == 7 ? 0x18 : 0x13) << slot;
    EXPECT_EQ(record.bytes[0x12], slot == 7 ? 1 : 0) << slot;
    EXPECT_EQ(record.Strings(), std::vector<std::string>{"Rear riser, slot " + std::to_string(slot)});
  }
}

}  // namespace
