// The board simulator as users run it: every shipped board, and bad board files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/dmidecode.h"
#include "tests/scratch_directory.h"

namespace {

struct Outcome {
  int status;
  std::string output;
};

// Runs boardsim; REDIRECT says where its standard error goes.
Outcome Boardsim(const std::string &arguments, const char *redirect = " 2>&1") {
  std::string command = std::string(BINARY_DIR) + "/tools/boardsim " + arguments + redirect;
  Outcome outcome{-1, ""};
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  std::array<char, 4096> chunk;
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) outcome.output.append(chunk.data(), got);
  int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string WriteBoard(const std::string &name, const std::string &text) {
  std::string path = testing_support::ScratchPath(name);
  std::ofstream(path) << text;
  return path;
}

TEST(Boardsim, EveryShippedBoardRunsCleanAndDecodes) {
  namespace fs = std::filesystem;
  size_t boards = 0;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(std::string(SOURCE_DIR) + "/boards")) {
    if (entry.path().extension() != ".json") continue;
    boards++;
    Outcome outcome = Boardsim(entry.path().string() + " --dmidecode");
    EXPECT_EQ(outcome.status, 0) << entry.path() << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find("driver status: EFI_SUCCESS"), std::string::npos) << entry.path();
    EXPECT_EQ(outcome.output.find("WARNING"), std::string::npos) << outcome.output;
    EXPECT_EQ(sim::DmidecodeWarning(outcome.output), "") << outcome.output;
  }
  EXPECT_GE(boards, 11u);
}

TEST(Boardsim, DefaultBoardShowsEveryRecord) {
  Outcome outcome = Boardsim(std::string(SOURCE_DIR) + "/boards/default.json --trace");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("riser 1 = 5, riser 2 = 3, riser 3 = 1"), std::string::npos);
  EXPECT_NE(outcome.output.find("records written: 14"), std::string::npos);
  EXPECT_NE(outcome.output.find("Riser 2, slot 2"), std::string::npos);
  // The trace names the probes behind a slot.
  EXPECT_NE(outcome.output.find("RegisterAccess.ConfigSpaceAddress(B0:00.0)"), std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("Sideband.Read(0xFDAE0478)"), std::string::npos);
}

TEST(Boardsim, OverridesAndJson) {
  Outcome outcome = Boardsim(std::string(SOURCE_DIR) +
                             "/boards/default.json --riser1 7 --riser2 7 --riser3 3 --lang fr-FR --json");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\"riserIds\""), std::string::npos);
  EXPECT_NE(outcome.output.find("\"slotId\": 18"), std::string::npos);
  EXPECT_EQ(outcome.output.find("\"slotId\": 1,"), std::string::npos);
  EXPECT_NE(outcome.output.find("MEZZANINE 0"), std::string::npos);  // en-US is the fallback
}

TEST(Boardsim, BadBoardFilesAreRefusedNamingTheField) {
  struct Case {
    const char *text;
    const char *field;
  };
  const Case cases[] = {
      {"{\"bridges\": [{\"bus\": 1, \"device\": 0, \"secondary\": 2}, {\"bus\": 1, \"device\": 40, \"secondary\": 2}]}",
       "bridges[1].device"},
      {"{\"straps\": {\"riser3\": 4}}", "straps.riser3"},
      {"{\"sockets\": [\"0x12\"]}", "sockets"},
      {"{\"sockets\": [\"0xZZ\", 0]}", "sockets[0]"},
      {"{\"platformLang\": 5}", "platformLang"},
      {"{\"smbios\": [{\"strings\": [\"x\"]}]}", "smbios[0].type"},
      {"{\"faults\": {\"failAllocation\": -1}}", "faults.failAllocation"},
      {"{\"pads\": [{\"pad\": 1, \"level\": 2}]}", "pads[0].level"},
      {"{\"riser\": 1}", "riser"},
      {"{\"straps\": {\"\": 1}}", "straps.\"\": unknown field"},
      {"[1, 2", "not valid JSON"},
      {"{\"sockets\": [1e400, 0]}", "not valid JSON"},  // once an uncaught exception
  };
  for (const Case &c : cases) {
    Outcome outcome = Boardsim(WriteBoard("bad_board.json", c.text));
    EXPECT_EQ(outcome.status, 2) << c.text << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.field), std::string::npos) << c.text << "\n" << outcome.output;
  }
  EXPECT_EQ(Boardsim("/nonexistent/board.json").status, 2);
  Outcome unknown = Boardsim(std::string(SOURCE_DIR) + "/boards/default.json --colour");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown option --colour"), std::string::npos) << unknown.output;
  EXPECT_EQ(Boardsim(std::string(SOURCE_DIR) + "/boards/default.json --riser1 9").status, 2);
}

TEST(Boardsim, HelpAndVersionGoToStandardOutput) {
  Outcome help = Boardsim("--help", " 2>/dev/null");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("usage: boardsim BOARD.json", 0), 0u) << help.output;
  Outcome version = Boardsim("--version", " 2>/dev/null");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "boardsim " PROJECT_VERSION "\n");
}

// A pad entry without a level keeps the level its strap gives it; without an
// owner it is host-owned.
TEST(Boardsim, PadsMayLeaveOutLevelAndOwner) {
  struct Case {
    const char *pads;
    const char *riserIds;
  };
  const Case cases[] = {
      {"[{\"pad\": \"0x0102000F\"}]", "riser 1 = 5,"},
      {"[{\"pad\": \"0x0102000F\", \"owner\": 1}]", "riser 1 = 1,"},
      {"[{\"pad\": \"0x01020010\", \"level\": 1}]", "riser 1 = 7,"},
      {"[{\"pad\": \"0x01020000\", \"owner\": 2}]", "riser 1 = 5,"},  // not a strap pad
  };
  for (const Case &c : cases) {
    std::string board = std::string("{\"straps\": {\"riser1\": 5}, \"pads\": ") + c.pads + "}";
    Outcome outcome = Boardsim(WriteBoard("pads.json", board));
    EXPECT_EQ(outcome.status, 0) << board << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.riserIds), std::string::npos) << board << "\n" << outcome.output;
  }
}

}  // namespace
