// Board pictures: a column per socket of the platform (two for a platform
// with one socket, whose box then spans both), each riser position and the
// mezzanine slots under the socket that feeds them, and every colour paired
// with words (In use, Available, Enabled, Disabled) so that the picture reads
// in greyscale too.
#include "sim/board_picture.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

#include "include/smbios_records.h"
#include "sim/platform.h"
#include "sim/status_names.h"

namespace sim {

namespace {

constexpr int kMargin = 20;
constexpr int kColumnWidth = 470;
constexpr int kGap = 20;
constexpr int kSlotHeight = 46;
constexpr int kSlotPitch = 54;
constexpr int kPositionHeader = 32;

// Fill and outline of a slot or device by its state, and of the fixed parts.
struct Look {
  const char *fill;
  const char *stroke;
  bool dashed;
};
constexpr Look kOccupied = {"#cfeccb", "#2e7d32", false};
constexpr Look kVacant = {"#ffffff", "#8a8a8a", true};
constexpr Look kSocket = {"#e4ecf7", "#3b5b89", false};
constexpr Look kGroup = {"#ffffff", "#3b5b89", false};
constexpr Look kPosition = {"#f4f4f4", "#555555", false};

struct Slot {
  unsigned id;
  std::string designation;
  bool inUse;
  uint8_t dataBusWidth;
  unsigned bus, device, function;
};

struct Device {
  std::string designation;
  unsigned type, instance;
  bool enabled;
  unsigned bus, device, function;
};

// Where a slot sits on the board, by its Slot ID: a riser position of the
// platform, the mezzanine slots, or none of them.
struct Position {
  std::string title;
  std::vector<unsigned> slotIds;
  int column;
  const PlatformRiserPosition *riser;  // null: not a riser position
  size_t riserIndex;
  bool alwaysShown;
};

int Columns(const Platform &platform) { return std::max(2, static_cast<int>(platform.sockets.size())); }

// Columns under each socket.
int SocketSpan(const Platform &platform) {
  return Columns(platform) / static_cast<int>(platform.sockets.size());
}

// Each riser position and the mezzanine slots under the socket of their first
// slot, in turn over that socket's columns; other slots last.
std::vector<Position> PlatformPositions(const Platform &platform) {
  std::vector<Position> positions;
  std::vector<int> placed(platform.sockets.size(), 0);
  auto place = [&](Position &position, unsigned socket) {
    position.column = static_cast<int>(socket) * SocketSpan(platform) + placed[socket]++ % SocketSpan(platform);
  };
  for (size_t i = 0; i < platform.risers.size(); i++) {
    const PlatformRiserPosition &riser = platform.risers[i];
    Position position{riser.title, {}, 0, &riser, i, true};
    std::optional<unsigned> socket;
    for (const PlatformCard &card : riser.cards) {
      for (const PlatformSlot &slot : card.slots) {
        position.slotIds.push_back(slot.slotId);
        if (!socket) socket = slot.socket;
      }
    }
    place(position, socket.value_or(0));
    positions.push_back(position);
  }
  Position mezzanine{"Mezzanine slots", {}, 0, nullptr, 0, true};
  for (const PlatformSlot &slot : platform.mezzanineSlots) mezzanine.slotIds.push_back(slot.slotId);
  place(mezzanine, platform.mezzanineSlots.front().socket);
  positions.push_back(mezzanine);
  positions.push_back({"Other slots", {}, Columns(platform) - 1, nullptr, 0, false});
  return positions;
}

// "x8" for Data Bus Width 0x0B, and so on.
std::string LinkWidth(uint8_t dataBusWidth) {
  struct Name {
    uint8_t value;
    const char *text;
  };
  constexpr Name kNames[] = {{0x08, "x1"}, {0x09, "x2"}, {0x0A, "x4"}, {0x0B, "x8"},
                             {0x0C, "x12"}, {0x0D, "x16"}, {0x0E, "x32"}};
  for (const Name &name : kNames) {
    if (name.value == dataBusWidth) return name.text;
  }
  return "width " + std::to_string(dataBusWidth);
}

struct DeviceTypeName {
  unsigned type;
  const char *name;
};
constexpr DeviceTypeName kDeviceTypes[] = {
    {OnBoardDeviceExtendedTypeVideo, "Video"},
    {OnBoardDeviceExtendedTypeEthernet, "Ethernet"},
    {OnBoardDeviceExtendedTypeSATAController, "SATA controller"}};

struct RecordTypeName {
  unsigned type;
  const char *name;
};
constexpr RecordTypeName kRecordTypes[] = {
    {SMBIOS_TYPE_SYSTEM_SLOTS, "System Slots"},
    {SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION, "Onboard Devices Extended Information"}};

std::string Format(const char *format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[64];
  std::snprintf(text, sizeof(text), format, a, b, c);
  return text;
}

std::string Bdf(unsigned bus, unsigned device, unsigned function) {
  return Format("%02x:%02x.%x", bus, device, function);
}

// Text as XML character data; control characters, which XML cannot hold, become '?'.
std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    }
  }
  return out;
}

class Canvas {
 public:
  explicit Canvas(int width) : width_(width) {}
  int Width() const { return width_; }

  void Box(int x, int y, int w, int h, const Look &look, int strokeWidth = 2) {
    out_ << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << w << "\" height=\"" << h
         << "\" rx=\"6\" fill=\"" << look.fill << "\" stroke=\"" << look.stroke
         << "\" stroke-width=\"" << strokeWidth << "\""
         << (look.dashed ? " stroke-dasharray=\"6 4\"" : "") << "/>\n";
  }
  void Text(int x, int y, int size, const std::string &text, bool bold = false,
            const char *anchor = "start", const char *colour = "#111111") {
    out_ << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size << "\""
         << (bold ? " font-weight=\"bold\"" : "") << " text-anchor=\"" << anchor << "\" fill=\""
         << colour << "\">" << Escape(text) << "</text>\n";
  }
  std::string Finish(int height) const {
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width_ << "\" height=\""
        << height << "\" viewBox=\"0 0 " << width_ << " " << height
        << "\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << out_.str() << "</svg>\n";
    return svg.str();
  }

 private:
  int width_;
  std::ostringstream out_;
};

std::string Designation(const SmbiosRecord &record) {
  return record.NumberedString(record.bytes[RECORD_DESIGNATION_OFFSET]).value_or("(no designation)");
}

void ReadRecords(const BoardRun &run, std::vector<Slot> &slots, std::vector<Device> &devices) {
  for (const SmbiosRecord &record : run.added) {
    const std::vector<uint8_t> &b = record.bytes;
    if (record.Type() == SMBIOS_TYPE_SYSTEM_SLOTS && b.size() >= sizeof(SMBIOS_TABLE_TYPE9)) {
      slots.push_back({static_cast<unsigned>(b[0x09] | b[0x0A] << 8), Designation(record),
                       b[0x07] == SlotUsageInUse, b[0x06], b[0x0F],
                       static_cast<unsigned>(b[0x10] >> 3), static_cast<unsigned>(b[0x10] & 7)});
    } else if (record.Type() == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION &&
               b.size() >= sizeof(SMBIOS_TABLE_TYPE41)) {
      devices.push_back({Designation(record), static_cast<unsigned>(b[0x05] & 0x7F), b[0x06],
                         (b[0x05] & ONBOARD_DEVICE_ENABLED) != 0, b[0x09],
                         static_cast<unsigned>(b[0x0A] >> 3), static_cast<unsigned>(b[0x0A] & 7)});
    }
  }
}

const Position &PositionOf(const std::vector<Position> &positions, const Slot &slot) {
  for (const Position &position : positions) {
    if (std::find(position.slotIds.begin(), position.slotIds.end(), slot.id) != position.slotIds.end()) {
      return position;
    }
  }
  return positions.back();
}

// Which socket's root-port group has the slot's bus, as the driver reads the
// groups: byte k of the socket's bus-number word.
std::string RootPortOf(const Board &board, unsigned bus) {
  std::span<const PlatformSocket> sockets = BuiltInPlatform().sockets;
  for (unsigned socket = 0; socket < sockets.size(); socket++) {
    for (unsigned group : sockets[socket].groups) {
      if (((board.sockets[socket] >> (8 * group)) & 0xFF) == bus) {
        return Format("socket %u, group %u", socket, group);
      }
    }
  }
  return "no root-port group";
}

void DrawHeader(Canvas &canvas, const Board &board, const BoardRun &run) {
  canvas.Text(kMargin, 34, 20, "Board: " + (board.name.empty() ? "(unnamed)" : board.name), true);
  std::string identifiers;
  for (size_t i = 0; i < run.result.riserIds.size(); i++) {
    identifiers += (i == 0 ? "" : ", ") + std::to_string(run.result.riserIds[i]);
  }
  std::string summary = "driver status " + StatusName(run.result.status) + "  \u00b7  " +
                        "riser identifiers " + identifiers +
                        "  \u00b7  " + Format("%u records written", unsigned(run.added.size())) +
                        "  \u00b7  language " + board.platformLang.value_or("(none)");
  canvas.Text(kMargin, 58, 13, summary, false, "start", "#333333");
  int x = canvas.Width() - kMargin - 300;
  canvas.Box(x, 16, 28, 18, kOccupied);
  canvas.Text(x + 36, 30, 12, "In use / Enabled");
  canvas.Box(x + 160, 16, 28, 18, kVacant);
  canvas.Text(x + 196, 30, 12, "Available / Disabled");
}

void DrawSocket(Canvas &canvas, const Board &board, unsigned socket, int x, int y, int width) {
  canvas.Box(x, y, width, 96, kSocket);
  canvas.Text(x + 14, y + 24, 16, Format("Socket %u", socket), true);
  canvas.Text(x + width - 14, y + 24, 11, Format("bus-number word 0x%08X", board.sockets[socket]),
              false, "end", "#333333");
  std::span<const uint8_t> groups = BuiltInPlatform().sockets[socket].groups;
  const int count = static_cast<int>(groups.size());
  const int chipWidth = (width - 28 - (count - 1) * 10) / count;
  for (int i = 0; i < count; i++) {
    unsigned group = groups[static_cast<size_t>(i)];
    int chipX = x + 14 + i * (chipWidth + 10);
    canvas.Box(chipX, y + 36, chipWidth, 48, kGroup, 1);
    canvas.Text(chipX + chipWidth / 2, y + 55, 12, Format("Root-port group %u", group), true,
                "middle");
    canvas.Text(chipX + chipWidth / 2, y + 74, 12,
                Format("bus 0x%02X", (board.sockets[socket] >> (8 * group)) & 0xFF), false, "middle");
  }
}

// A riser position's title with the identifier its straps give and the card
// that identifier names.
std::string PositionTitle(const Position &position, const BoardRun &run) {
  if (position.riser == nullptr) return position.title;
  unsigned id = run.result.riserIds[position.riserIndex];
  const PlatformCard *card = position.riser->CardOf(id);
  std::string named = position.riser->noCard == id ? "no card fitted"
                      : card != nullptr             ? card->name
                                                    : "a card the driver does not know";
  return position.title + Format("  \u00b7  identifier %u  \u00b7  ", id) + named;
}

void DrawSlot(Canvas &canvas, const Board &board, const Slot &slot, int x, int y, int w) {
  canvas.Box(x, y, w, kSlotHeight, slot.inUse ? kOccupied : kVacant);
  canvas.Text(x + 12, y + 19, 13, slot.designation, true);
  canvas.Text(x + w - 12, y + 19, 13, slot.inUse ? "In use" : "Available", true, "end");
  canvas.Text(x + 12, y + 37, 11,
              "PCIe " + LinkWidth(slot.dataBusWidth) + "  \u00b7  " +
                  Bdf(slot.bus, slot.device, slot.function) + "  \u00b7  slot ID " +
                  std::to_string(slot.id) + "  \u00b7  " + RootPortOf(board, slot.bus),
              false, "start", "#333333");
}

// Draws one riser or mezzanine position; returns its height.
int DrawPosition(Canvas &canvas, const Board &board, const BoardRun &run,
                 const std::vector<Position> &positions, const Position &position,
                 const std::vector<Slot> &slots, int x, int y) {
  std::vector<const Slot *> mine;
  for (const Slot &slot : slots) {
    if (&PositionOf(positions, slot) == &position) mine.push_back(&slot);
  }
  if (mine.empty() && !position.alwaysShown) return -kGap;
  int height = kPositionHeader + (mine.empty() ? 26 : static_cast<int>(mine.size()) * kSlotPitch) + 4;
  canvas.Box(x, y, kColumnWidth, height, kPosition, 1);
  canvas.Text(x + 12, y + 22, 14, PositionTitle(position, run), true);
  if (mine.empty()) {
    canvas.Text(x + 12, y + kPositionHeader + 14, 12, "no slots described", false, "start", "#555555");
  }
  for (size_t i = 0; i < mine.size(); i++) {
    DrawSlot(canvas, board, *mine[i], x + 10, y + kPositionHeader + static_cast<int>(i) * kSlotPitch,
             kColumnWidth - 20);
  }
  return height;
}

// Words of TEXT in lines of at most WIDTH characters.
std::vector<std::string> Wrap(const std::string &text, size_t width) {
  std::vector<std::string> lines(1);
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) lines.emplace_back();
    lines.back() += (lines.back().empty() ? "" : " ") + word;
  }
  return lines;
}

std::string DeviceTypeText(unsigned type) {
  for (const DeviceTypeName &known : kDeviceTypes) {
    if (known.type == type) return known.name;
  }
  return "type " + std::to_string(type);
}

int DrawDevices(Canvas &canvas, const std::vector<Device> &devices, int y) {
  canvas.Text(kMargin, y + 16, 15, "Onboard devices", true);
  constexpr int kBoxGap = 10, kHeight = 96, kNarrowest = 184;
  const int perRow = (canvas.Width() - 2 * kMargin + kBoxGap) / (kNarrowest + kBoxGap);
  const int boxWidth = (canvas.Width() - 2 * kMargin - (perRow - 1) * kBoxGap) / perRow;
  y += 26;
  for (size_t i = 0; i < devices.size(); i++) {
    const Device &device = devices[i];
    int x = kMargin + static_cast<int>(i) % perRow * (boxWidth + kBoxGap);
    int top = y + static_cast<int>(i) / perRow * (kHeight + kBoxGap);
    canvas.Box(x, top, boxWidth, kHeight, device.enabled ? kOccupied : kVacant);
    std::vector<std::string> lines = Wrap(device.designation, 22);
    for (size_t line = 0; line < lines.size() && line < 2; line++) {
      canvas.Text(x + 10, top + 18 + static_cast<int>(line) * 15, 12, lines[line], true);
    }
    canvas.Text(x + 10, top + 55, 11, DeviceTypeText(device.type) + ", instance " +
                                          std::to_string(device.instance), false, "start", "#333333");
    canvas.Text(x + 10, top + 70, 11, "at " + Bdf(device.bus, device.device, device.function),
                false, "start", "#333333");
    canvas.Text(x + 10, top + 88, 12, device.enabled ? "Enabled" : "Disabled", true);
  }
  if (devices.empty()) {
    canvas.Text(kMargin, y + 14, 12, "none written", false, "start", "#555555");
    return 26 + 24;
  }
  int rows = (static_cast<int>(devices.size()) + perRow - 1) / perRow;
  return 26 + rows * (kHeight + kBoxGap);
}

std::string RecordText(const EarlierRecord &record) {
  std::string text = "Type " + std::to_string(record.type);
  for (const RecordTypeName &known : kRecordTypes) {
    if (known.type == record.type) text += " (" + std::string(known.name) + ")";
  }
  return text + ": " + (record.strings.empty() ? "no strings" : "\u201c" + record.strings[0] + "\u201d");
}

// The earlier producer's records no longer in the table after the run.
std::vector<const EarlierRecord *> Replaced(const Board &board, const BoardRun &run) {
  std::vector<bool> matched(run.table.size(), false);
  std::vector<const EarlierRecord *> replaced;
  for (const EarlierRecord &record : board.smbios) {
    std::vector<uint8_t> bytes = EarlierRecordBytes(record);
    bool found = false;
    for (size_t i = 0; i < run.table.size() && !found; i++) {
      std::vector<uint8_t> stored = run.table[i].bytes;
      stored[2] = bytes[2];  // the handle is the table's to assign
      stored[3] = bytes[3];
      found = !matched[i] && stored == bytes;
      if (found) matched[i] = true;
    }
    if (!found) replaced.push_back(&record);
  }
  return replaced;
}

int DrawReplaced(Canvas &canvas, const Board &board, const BoardRun &run, int y) {
  std::vector<const EarlierRecord *> replaced = Replaced(board, run);
  canvas.Text(kMargin, y + 16, 15, "Earlier records replaced", true);
  int line = y + 40;
  if (replaced.empty()) {
    canvas.Text(kMargin + 12, line, 12, "none", false, "start", "#555555");
    line += 18;
  }
  for (const EarlierRecord *record : replaced) {
    canvas.Text(kMargin + 12, line, 12, RecordText(*record), false, "start", "#333333");
    line += 18;
  }
  return line - y;
}

}  // namespace

std::string BoardPictureSvg(const Board &board, const BoardRun &run) {
  const Platform &platform = BuiltInPlatform();
  const int columns = Columns(platform), span = SocketSpan(platform);
  Canvas canvas(2 * kMargin + columns * kColumnWidth + (columns - 1) * kGap);
  std::vector<Position> positions = PlatformPositions(platform);
  std::vector<Slot> slots;
  std::vector<Device> devices;
  ReadRecords(run, slots, devices);

  DrawHeader(canvas, board, run);
  int top = 76;
  int bottom = top;
  for (int column = 0; column < columns; column++) {
    int x = kMargin + column * (kColumnWidth + kGap);
    if (column % span == 0) {
      DrawSocket(canvas, board, static_cast<unsigned>(column / span), x, top,
                 span * kColumnWidth + (span - 1) * kGap);
    }
    int y = top + 96 + kGap;
    for (const Position &position : positions) {
      if (position.column != column) continue;
      y += DrawPosition(canvas, board, run, positions, position, slots, x, y) + kGap;
    }
    bottom = std::max(bottom, y);
  }
  int y = bottom;
  y += DrawDevices(canvas, devices, y) + kGap;
  y += DrawReplaced(canvas, board, run, y);
  return canvas.Finish(y + kMargin);
}

}  // namespace sim
