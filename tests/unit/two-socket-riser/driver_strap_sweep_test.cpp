// Every combination of the eight strap levels, through the whole driver: the
// slot records written and a table that the real dmidecode reads cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sim/dmidecode.h"
#include "sim/simulated_board.h"
#include "tests/scratch_directory.h"

namespace {

// Slot IDs each riser card adds, by identifier, worked out from the card catalogue.
const std::map<unsigned, std::vector<uint16_t>> kRiser1Slots = {
    {0, {1}}, {1, {1}}, {2, {}}, {3, {1, 2, 3}}, {4, {1}}, {5, {1, 3}}, {6, {1}}, {7, {}}};
const std::map<unsigned, std::vector<uint16_t>> kRiser2Slots = {
    {0, {4}}, {1, {4}}, {2, {}}, {3, {4, 5, 6}}, {4, {4}}, {5, {4, 6}}, {6, {4}}, {7, {}}};
const std::map<unsigned, std::vector<uint16_t>> kRiser3Slots = {
    {0, {}}, {1, {7, 8}}, {2, {7}}, {3, {}}};

void ExpectCleanDecoding(const std::vector<uint8_t> &dump, const std::string &name) {
  std::string path = testing_support::ScratchPath("strap_sweep.bin");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(dump.data()), static_cast<std::streamsize>(dump.size()));
  sim::DmidecodeResult decoded = sim::RunDmidecode(path);
  EXPECT_EQ(decoded.exitStatus, 0) << name;
  EXPECT_EQ(sim::DmidecodeWarning(decoded.output), "") << name << "\n" << decoded.output;
}

TEST(StrapSweep, EveryStrapCombinationGivesTheCardsSlots) {
  bool haveDmidecode = !sim::DmidecodePath().empty();
  size_t records = 0;
  for (unsigned levels = 0; levels < 256; levels++) {
    const uint8_t riser1 = levels >> 5, riser2 = (levels >> 2) & 7, riser3 = levels & 3;
    sim::Board board;
    board.riserIds = {riser1, riser2, riser3};
    board.sockets[0] = 0x5D3A1700;
    board.sockets[1] = 0xD7AE8580;
    std::string name = "straps " + std::to_string(riser1) + "," + std::to_string(riser2) + "," +
                       std::to_string(riser3);

    sim::BoardRun run = sim::RunBoard(board);
    ASSERT_EQ(run.result.status, EFI_SUCCESS) << name;
    ASSERT_EQ(run.result.outstandingAllocations, 0u) << name;

    std::vector<uint16_t> expected = {17, 18};
    for (const auto *card : {&kRiser1Slots.at(riser1), &kRiser2Slots.at(riser2), &kRiser3Slots.at(riser3)}) {
      expected.insert(expected.end(), card->begin(), card->end());
    }
    std::vector<uint16_t> slotIds;
    for (const sim::SmbiosRecord &record : run.added) {
      if (record.Type() == 9) slotIds.push_back(static_cast<uint16_t>(record.bytes[9] | record.bytes[10] << 8));
    }
    EXPECT_EQ(slotIds, expected) << name;
    EXPECT_EQ(run.added.size(), expected.size() + 5) << name;
    records += run.added.size();
    if (haveDmidecode) ExpectCleanDecoding(run.dump, name);
  }
  std::cout << "[ strap sweep ] 256 combinations, " << records << " records checked\n";
}

}  // namespace
