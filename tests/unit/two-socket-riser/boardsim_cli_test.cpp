// The board simulator as users run it on the two-socket board: its records,
// options, comparison with a machine's table, and bad board files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/command_outcome.h"
#include "tests/scratch_directory.h"

namespace {

using testing_support::Outcome;

// Runs boardsim on the two-socket platform, whichever is the default;
// REDIRECT says where its standard error goes.
Outcome Boardsim(const std::string &arguments, const char *redirect = " 2>&1") {
  return testing_support::RunCommand(std::string(BINARY_DIR) + "/tools/boardsim --platform " + SOURCE_DIR +
                                     "/platforms/two-socket-riser/platform.json " + arguments + redirect);
}

std::string WriteBoard(const std::string &name, const std::string &text) {
  std::string path = testing_support::ScratchPath(name);
  std::ofstream(path) << text;
  return path;
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

// A table that refuses the driver's adds from the twelfth on (the third
// device's): the summary names the refusals and the entry point's status,
// the trace marks each failed call.
TEST(Boardsim, ABoardWithAFullTableShowsTheRefusalsAndTheStatus) {
  std::ifstream file(std::string(SOURCE_DIR) + "/boards/default.json");
  std::string board((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  board.insert(board.rfind('}'), ", \"faults\": {\"addFailsFrom\": 12}");
  Outcome outcome = Boardsim(WriteBoard("full_table.json", board) + " --trace");
  ASSERT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("records written: 11, 3 refused by the firmware; driver status: "
                                "EFI_OUT_OF_RESOURCES"),
            std::string::npos)
      << outcome.output;
  EXPECT_NE(outcome.output.find("\n!! Smbios.Add(type=41) (injected) -> EFI_OUT_OF_RESOURCES\n\n"
                                "-- not added: the firmware refused a type 41 record"),
            std::string::npos);
  EXPECT_NE(outcome.output.find("!! DriverEntry -> EFI_OUT_OF_RESOURCES"), std::string::npos);
  // Size queries and the end of a walk are answers, not failures.
  EXPECT_EQ(outcome.output.find("!! HiiString.GetString"), std::string::npos);
  EXPECT_EQ(outcome.output.find("!! Smbios.GetNext"), std::string::npos);
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
      {"{\"faults\": {\"addFails\": 0}}", "faults.addFails: counts adds from 1"},
      {"{\"faults\": {\"addFailsFrom\": true}}", "faults.addFailsFrom: must be a number"},
      {"{\"faults\": {\"getNextFailsAfter\": 4294967296}}", "faults.getNextFailsAfter"},
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

// --compare: a machine's table against the driver's records for a board.
class BoardsimCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_);
    ASSERT_EQ(Boardsim(board_ + " --dump " + dir_ + "/agree.bin").status, 0);
    std::ifstream file(dir_ + "/agree.bin", std::ios::binary);
    dump_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    ASSERT_GT(dump_.size(), 0x20u);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Outcome Compare(const std::vector<uint8_t> &bytes, const std::string &board = "") {
    std::string path = dir_ + "/table.bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    return Boardsim((board.empty() ? board_ : board) + " --compare " + path);
  }

  // Where each structure of the table starts.
  std::vector<size_t> Offsets() const {
    std::vector<size_t> offsets;
    for (size_t at = 0x20; at < dump_.size();) {
      offsets.push_back(at);
      at += dump_[at + 1];
      while (dump_[at] != 0 || dump_[at + 1] != 0) at++;
      at += 2;
    }
    return offsets;
  }

  // The same table behind an SMBIOS 2.x entry point, as QEMU's q35 gives it by default.
  std::vector<uint8_t> AsSmbios2() const {
    std::vector<uint8_t> bytes = dump_;
    std::vector<uint8_t> point = {'_', 'S', 'M', '_', 0, 0x1F, 2, 8, 0, 0, 0, 0, 0, 0, 0, 0,
                                  '_', 'D', 'M', 'I', '_', 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0x28};
    size_t length = bytes.size() - 0x20, count = Offsets().size();
    point[0x16] = length & 0xFF, point[0x17] = length >> 8, point[0x1C] = static_cast<uint8_t>(count);
    auto fix = [&](size_t from, size_t size, size_t at) {
      uint8_t sum = 0;
      for (size_t i = from; i < from + size; i++) sum += point[i];
      point[at] = static_cast<uint8_t>(-sum);
    };
    fix(0x10, 0x0F, 0x15);
    fix(0, 0x1F, 0x04);
    std::copy(point.begin(), point.end(), bytes.begin());
    bytes[0x1F] = 0;
    return bytes;
  }

  // Each test runs in a process of its own, in parallel with the others.
  std::string dir_ = testing_support::ScratchPath("compare");
  std::string board_ = std::string(SOURCE_DIR) + "/boards/default.json";
  std::vector<uint8_t> dump_;
};

TEST_F(BoardsimCompare, AgreeingAndDifferingTables) {
  Outcome same = Compare(dump_);
  EXPECT_EQ(same.status, 0) << same.output;
  EXPECT_NE(same.output.find("agree: the table's 14 Type 9/41 records"), std::string::npos) << same.output;
  Outcome older = Compare(AsSmbios2());
  EXPECT_EQ(older.status, 0) << older.output;

  // The first Type 9 is MEZZANINE 0's: its slot marked in use, its handle changed.
  std::vector<uint8_t> changed = dump_;
  size_t mezzanine0 = Offsets()[2];
  ASSERT_EQ(changed[mezzanine0], 9);
  changed[mezzanine0 + 0x07] = 4;
  changed[mezzanine0 + 0x02] ^= 0x55;
  Outcome differ = Compare(changed);
  EXPECT_EQ(differ.status, 1) << differ.output;
  EXPECT_NE(differ.output.find("Type 9 slot ID 17 \"MEZZANINE 0\": current usage: table 0x04, driver 0x03"),
            std::string::npos) << differ.output;
  EXPECT_NE(differ.output.find("differ: 1 difference"), std::string::npos) << differ.output;

  // Another board's records: missing ones and foreign ones are named.
  Outcome other = Compare(dump_, std::string(SOURCE_DIR) + "/boards/no-risers.json");
  EXPECT_EQ(other.status, 1) << other.output;
  EXPECT_NE(other.output.find("\"Riser 1, slot 1\": in the table, not written by the driver"),
            std::string::npos) << other.output;
}

TEST_F(BoardsimCompare, UnreadableTablesAndBadBoardsAreRefused) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char *message;
  };
  std::vector<uint8_t> badSum = dump_, movedTable = dump_, older = AsSmbios2();
  badSum[0x08] ^= 1;
  movedTable[0x10] = 0x40;
  movedTable[0x05] -= 0x20;
  std::string board = "{\"name\": \"x\"}";
  const Case cases[] = {
      {std::vector<uint8_t>(dump_.begin(), dump_.end() - 40), "truncated"},
      {std::vector<uint8_t>(older.begin(), older.end() - 40), "truncated"},
      {std::vector<uint8_t>(dump_.begin(), dump_.begin() + 0x10), "truncated"},
      {std::vector<uint8_t>(board.begin(), board.end()), "not a dmidecode --dump-bin file"},
      {badSum, "checksum"},
      {movedTable, "places the table at 0x40"},
  };
  for (const Case &c : cases) {
    Outcome outcome = Compare(c.bytes);
    EXPECT_EQ(outcome.status, 2) << c.message << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.message), std::string::npos) << outcome.output;
  }
  EXPECT_EQ(Boardsim(board_ + " --compare " + dir_ + "/absent.bin").status, 2);
  std::ofstream(dir_ + "/bad.json") << "{\"straps\": 1}";
  Outcome badBoard = Compare(dump_, dir_ + "/bad.json");
  EXPECT_EQ(badBoard.status, 2) << badBoard.output;
  EXPECT_NE(badBoard.output.find("straps"), std::string::npos) << badBoard.output;
}

}  // namespace
