// boardsim on every platform of platforms/, whichever is the default: every
// shipped board runs on its platform's own driver (boardsim hands it to
// boardsim-NAME), a platform's cards follow its description, a position of
// eight pads takes every identifier, and a description or board of another
// platform than the one built is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/dmidecode.h"
#include "tests/command_outcome.h"
#include "tests/scratch_directory.h"

namespace {

const std::string kSource = SOURCE_DIR;
const std::string kBoard = kSource + "/boards/one-socket-riser/default.json";
const std::string kDescription = kSource + "/platforms/one-socket-riser/platform.json";

using testing_support::Outcome;

Outcome Boardsim(const std::string &arguments) {
  return testing_support::RunCommand(std::string(BINARY_DIR) + "/tools/boardsim " + arguments + " 2>&1");
}

std::string Scratch(const std::string &name, const std::string &text) {
  std::string path = testing_support::ScratchPath(name);
  std::ofstream(path) << text;
  return path;
}

TEST(Platforms, EveryShippedBoardRunsCleanAndDecodes) {
  namespace fs = std::filesystem;
  size_t boards = 0;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(kSource + "/boards")) {
    if (entry.path().extension() != ".json") continue;
    boards++;
    Outcome outcome = Boardsim(entry.path().string() + " --dmidecode");
    EXPECT_EQ(outcome.status, 0) << entry.path() << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find("driver status: EFI_SUCCESS"), std::string::npos) << entry.path();
    EXPECT_EQ(outcome.output.find("WARNING"), std::string::npos) << outcome.output;
    EXPECT_EQ(sim::DmidecodeWarning(outcome.output), "") << outcome.output;
  }
  EXPECT_GE(boards, 16u);
}

// The rear position's eight pads give every identifier, 255 included, from an
// option or a board file: 255 is its noCard (no rear slots), 254 names the
// card without slots, 0x5A the eight-slot card.
TEST(Platforms, EightPadsTakeEveryIdentifier) {
  const std::string board = kSource + "/boards/four-socket-riser/default.json";
  std::ifstream file(board);
  nlohmann::json rear255 = nlohmann::json::parse(file);
  rear255["straps"]["rear"] = 255;
  struct Case {
    std::string arguments;
    unsigned rear;
    size_t rearSlots;
  };
  const Case cases[] = {
      {board + " --rear 255", 255, 0},
      {Scratch("rear-255.json", rear255.dump()), 255, 0},
      {board + " --rear 254", 254, 0},
      {board + " --rear 90", 90, 8},
  };
  for (const Case &c : cases) {
    Outcome outcome = Boardsim(c.arguments + " --json");
    ASSERT_EQ(outcome.status, 0) << c.arguments << "\n" << outcome.output;
    nlohmann::json run = nlohmann::json::parse(outcome.output);
    EXPECT_EQ(run["riserIds"], nlohmann::json({0, c.rear})) << c.arguments;
    size_t rearSlots = 0;
    for (const nlohmann::json &record : run["records"]) {
      rearSlots += record["type"] == 9 && record["slotId"] >= 21 && record["slotId"] <= 28;
    }
    EXPECT_EQ(rearSlots, c.rearSlots) << c.arguments;
  }
  std::string svg = testing_support::ScratchPath("rear-254.svg");
  ASSERT_EQ(Boardsim(board + " --rear 254 --svg " + svg).status, 0);
  std::ifstream picture(svg);
  std::string text((std::istreambuf_iterator<char>(picture)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Rear riser  \u00b7  identifier 254  \u00b7  unknown card"), std::string::npos);
}

// Every pair of identifiers: the cards the description's maps name, each slot
// wired as its card says (the one-slot upper card by identifier).
TEST(SecondPlatform, EveryIdentifierPairGivesItsCardsSlots) {
  const std::vector<std::vector<unsigned>> upper = {{1, 2}, {1}, {1}, {}}, lower = {{}, {3}, {3, 4}, {3, 4, 5}};
  for (unsigned u = 0; u < 4; u++) {
    for (unsigned l = 0; l < 4; l++) {
      SCOPED_TRACE("upper " + std::to_string(u) + ", lower " + std::to_string(l));
      Outcome outcome = Boardsim(kBoard + " --json --upper " + std::to_string(u) + " --lower " + std::to_string(l));
      ASSERT_EQ(outcome.status, 0) << outcome.output;
      nlohmann::json run = nlohmann::json::parse(outcome.output);
      EXPECT_EQ(run["platform"], "one-socket-riser");
      std::vector<unsigned> slots = {10}, expected = {10};
      expected.insert(expected.end(), upper[u].begin(), upper[u].end());
      expected.insert(expected.end(), lower[l].begin(), lower[l].end());
      for (const nlohmann::json &record : run["records"]) {
        if (record["type"] == 9 && record["slotId"] != 10) slots.push_back(record["slotId"]);
        if (record["type"] == 9 && record["slotId"] == 1 && u != 0) {
          EXPECT_EQ(record["slotType"], u == 1 ? 0xBD : 0xBC);  // Gen4 x16 on device 0, x8 on device 2
          EXPECT_EQ(record["device"], u == 1 ? 0 : 2);
        }
      }
      EXPECT_EQ(slots, expected);
      EXPECT_EQ(run["records"].size(), expected.size() + 3);
    }
  }
}

// dmidecode 3.4 shows every field the later layouts add, on the 3.5 platform,
// and only 3.2's on the four-socket one.
TEST(Platforms, DmidecodeShowsTheLaterLayoutsFields) {
  Outcome one = Boardsim(kBoard + " --dmidecode");
  ASSERT_EQ(one.status, 0) << one.output;
  for (const char *line : {"DMI type 9, 29 bytes", "Data Bus Width: 8", "Peer Devices: 1",
                           "Peer Device 1: 0000:20:03.0 (Width 8)", "PCI Express Generation: 4",
                           "Slot Physical Width: x16", "Pitch: 20.32 mm", "Height: Not applicable",
                           "Height: Low-profile"}) {
    EXPECT_NE(one.output.find(line), std::string::npos) << line;
  }
  Outcome four = Boardsim(kSource + "/boards/four-socket-riser/default.json --dmidecode");
  ASSERT_EQ(four.status, 0) << four.output;
  EXPECT_NE(four.output.find("Peer Device 1: 0000:20:01.0 (Width 8)"), std::string::npos);
  EXPECT_EQ(four.output.find("Slot Physical Width"), std::string::npos);
}

// --compare names a later field that differs, after the record's own peer groups.
TEST(Platforms, ComparisonCoversTheLaterFields) {
  std::string dump = testing_support::ScratchPath("one-socket.bin");
  ASSERT_EQ(Boardsim(kBoard + " --dump " + dump).status, 0);
  std::fstream file(dump, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The OCP slot's record comes first in the table: its height after one peer group.
  const size_t height = 0x20 + 0x17 + 5;
  ASSERT_EQ(bytes[0x20 + 1], 0x1D);
  file.seekp(static_cast<std::streamoff>(height));
  file.put(4);
  file.close();
  Outcome outcome = Boardsim(kBoard + " --compare " + dump);
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("Type 9 slot ID 10 \"OCP 3.0 slot\": height: table 0x04, driver 0x00"),
            std::string::npos) << outcome.output;
}

TEST(SecondPlatform, DescriptionsAndBoardsOfAnotherPlatformAreRefused) {
  EXPECT_EQ(Boardsim("--platform " + kDescription + " " + kBoard).status, 0);
  std::ifstream file(kDescription);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string edited = text;
  edited.replace(edited.find("Upper riser\""), 11, "Top riser  ");
  std::string renamed = text;
  renamed.replace(renamed.find("\"one-socket-riser\""), 18, "\"four-socket\"");
  struct Case {
    std::string arguments;
    const char *message;
  };
  const Case cases[] = {
      {"--platform " + Scratch("edited.json", edited) + " " + kBoard, "rebuild"},
      {"--platform " + Scratch("renamed.json", renamed) + " " + kBoard, "four-socket is not one this boardsim was built with"},
      {"--platform " + kSource + "/platforms/two-socket-riser/platform.json " + kBoard,
       "platform: \"one-socket-riser\" is not the platform described (two-socket-riser"},
      {"--platform " + Scratch("bad.json", "{\"format\": 1, \"sockets\": 2}") + " " + kBoard, "platform: is missing"},
      {"--platform " + Scratch("cut.json", "{\"platform\": \"one-socket-riser\"") + " " + kBoard, "not valid JSON"},
      {"--platform " + kSource + "/platforms/absent/platform.json " + kBoard, "platform.json: cannot be read"},
      {Scratch("unknown.json", "{\"platform\": \"no-such-board\"}"), "no-such-board is not one this boardsim"},
      {kBoard + " --riser1 1", "unknown option --riser1"},
  };
  for (const Case &c : cases) {
    Outcome outcome = Boardsim(c.arguments);
    EXPECT_EQ(outcome.status, 2) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.message), std::string::npos) << c.arguments << "\n" << outcome.output;
  }
}

TEST(SecondPlatform, PictureShowsItsOneSocketAndPositions) {
  std::string svg = testing_support::ScratchPath("one-socket.svg");
  ASSERT_EQ(Boardsim(kBoard + " --svg " + svg).status, 0);
  std::ifstream file(svg);
  std::string picture((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  for (const char *text : {"Socket 0", "Root-port group 2", "Upper riser  \u00b7  identifier 1  \u00b7  one-slot card",
                           "Lower riser  \u00b7  identifier 2  \u00b7  two-slot card", "OCP 3.0 slot", "Onboard LAN"}) {
    EXPECT_NE(picture.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(picture.find("Socket 1"), std::string::npos);
}

}  // namespace
