// boardsim --svg as a user meets it: the picture rendered by a real SVG
// renderer (rsvg-convert), and its text checked for what it must show.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/scratch_directory.h"

namespace {

using testing_support::ScratchPath;

int Shell(const std::string &command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// boardsim on the two-socket platform, whichever is the default.
const std::string kBoardsim = std::string(BINARY_DIR) + "/tools/boardsim --platform " + SOURCE_DIR +
                              "/platforms/two-socket-riser/platform.json ";

std::string Read(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The picture of BOARD_FILE, checked to render as a PNG of a real size.
std::string Picture(const std::string &boardFile, const std::string &name) {
  std::string svg = ScratchPath(name + ".svg"), png = ScratchPath(name + ".png");
  EXPECT_EQ(Shell(kBoardsim + boardFile + " --svg " + svg), 0);
  EXPECT_EQ(Shell("rsvg-convert " + svg + " -o " + png), 0) << "rsvg-convert (librsvg2-bin) renders " << svg;
  std::string image = Read(png);
  EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
  if (image.size() >= 24) {
    auto word = [&](size_t at) {
      return (unsigned char)image[at] << 24 | (unsigned char)image[at + 1] << 16 |
             (unsigned char)image[at + 2] << 8 | (unsigned char)image[at + 3];
    };
    EXPECT_GE(word(16), 900) << name;  // IHDR width and height
    EXPECT_GE(word(20), 600) << name;
  }
  EXPECT_GT(image.size(), 20000u) << name;  // drawn, not a blank page
  return Read(svg);
}

size_t Count(const std::string &text, const std::string &what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) count++;
  return count;
}

TEST(BoardPicture, ShowsEverySlotAndDeviceWithItsState) {
  std::string svg = Picture(std::string(SOURCE_DIR) + "/boards/default.json", "default");
  for (const char *text : {"Socket 0", "Socket 1", "bus 0x3A", "bus 0xD7", "identifier 5",
                           "two-slot card", "three-slot card", "Riser 1, slot 2", "Riser 2, slot 3",
                           "Riser 3, slot 1", "MEZZANINE 0", "MEZZANINE 1", "Aspeed Video",
                           "PCH Integrated sSATA", "ae:00.0", "00:11.5"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
  // The default board's four fitted cards, five empty slots, five answering devices.
  EXPECT_EQ(Count(svg, ">In use<"), 4u);
  EXPECT_EQ(Count(svg, ">Available<"), 5u);
  EXPECT_EQ(Count(svg, ">Enabled<"), 5u);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find("href"), std::string::npos);
}

TEST(BoardPicture, ListsReplacedRecordsAndEscapesTheBoardsText) {
  std::string board = ScratchPath("odd.json");
  std::ofstream(board) << R"({"name": "R&D <lab> \"7\"", "straps": {"riser1": 2},
      "smbios": [{"type": 9, "strings": ["PCIE <1>"]}, {"type": 41}, {"type": 1, "strings": ["Kept"]}]})";
  std::string svg = Picture(board, "odd");
  EXPECT_NE(svg.find("R&amp;D &lt;lab&gt; &quot;7&quot;"), std::string::npos);
  EXPECT_NE(svg.find("card without slots"), std::string::npos);
  EXPECT_NE(svg.find("\u201cPCIE &lt;1&gt;\u201d"), std::string::npos);
  EXPECT_NE(svg.find("Type 41 (Onboard Devices Extended Information): no strings"), std::string::npos);
  EXPECT_EQ(svg.find("Kept"), std::string::npos);
  EXPECT_EQ(Count(svg, ">Disabled<"), 5u);
}

TEST(BoardPicture, ReadmePictureIsUpToDate) {
  std::string fresh = ScratchPath("readme.svg");
  ASSERT_EQ(Shell(kBoardsim + SOURCE_DIR + "/boards/default.json --svg " + fresh), 0);
  EXPECT_EQ(Read(fresh), Read(std::string(SOURCE_DIR) + "/docs/default-board.svg"))
      << "regenerate: build/tools/boardsim boards/default.json --svg docs/default-board.svg";
}

TEST(BoardPicture, UnwritableFileFailsLeavingNothing) {
  std::string target = ScratchPath("missing-folder/board.svg");
  EXPECT_EQ(Shell(kBoardsim + SOURCE_DIR + "/boards/default.json --svg " + target), 1);
  EXPECT_EQ(Shell("test -e " + target + " -o -e " + target + ".partial"), 1);
}

}  // namespace
