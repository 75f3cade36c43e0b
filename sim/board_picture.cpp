// Board pictures: a fixed layout, and every colour paired with words (In use,
// Available, Enabled, Disabled) so that the picture reads in greyscale too.
#include "sim/board_picture.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <vector>

#include "include/smbios_records.h"
#include "sim/status_names.h"

namespace sim {

namespace {

constexpr int kMargin = 20;
constexpr int kColumnWidth = 470;
constexpr int kGap = 20;
constexpr int kWidth = 2 * kMargin + 2 * kColumnWidth + kGap;
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
  bool x16;
  unsigned bus, device, function;
};

struct Device {
  std::string designation;
  unsigned type, instance;
  bool enabled;
  unsigned bus, device, function;
};

// Where a slot sits on the board, by its Slot ID. riser 0: not a riser.
struct Position {
  const char *title;
  unsigned firstId, lastId;
  int column;
  unsigned riser;
  bool alwaysShown;
};
constexpr Position kPositions[] = {
    {"Riser 1", 1, 3, 0, 1, true},          {"Mezzanine slots", 17, 18, 0, 0, true},
    {"Riser 2", 4, 6, 1, 2, true},          {"Riser 3", 7, 8, 1, 3, true},
    {"Other slots", 0, 0xFFFF, 1, 0, false},
};

constexpr const char *kCardSizes[] = {"card without slots", "one-slot card", "two-slot card",
                                      "three-slot card"};

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
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
        << height << "\" viewBox=\"0 0 " << kWidth << " " << height
        << "\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << out_.str() << "</svg>\n";
    return svg.str();
  }

 private:
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
                       b[0x07] == SlotUsageInUse, b[0x05] == SlotTypePciExpressGen3X16, b[0x0F],
                       static_cast<unsigned>(b[0x10] >> 3), static_cast<unsigned>(b[0x10] & 7)});
    } else if (record.Type() == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION &&
               b.size() >= sizeof(SMBIOS_TABLE_TYPE41)) {
      devices.push_back({Designation(record), static_cast<unsigned>(b[0x05] & 0x7F), b[0x06],
                         (b[0x05] & ONBOARD_DEVICE_ENABLED) != 0, b[0x09],
                         static_cast<unsigned>(b[0x0A] >> 3), static_cast<unsigned>(b[0x0A] & 7)});
    }
  }
}

const Position &PositionOf(const Slot &slot) {
  for (const Position &position : kPositions) {
    if (slot.id >= position.firstId && slot.id <= position.lastId) return position;
  }
  return kPositions[std::size(kPositions) - 1];
}

// Which socket's root-port group (1 to 3) has the slot's bus, as the driver
// reads the groups: byte k of the socket's bus-number word.
std::string RootPortOf(const Board &board, unsigned bus) {
  for (unsigned socket = 0; socket < 2; socket++) {
    for (unsigned group = 1; group <= 3; group++) {
      if (((board.sockets[socket] >> (8 * group)) & 0xFF) == bus) {
        return Format("socket %u, group %u", socket, group);
      }
    }
  }
  return "no root-port group";
}

void DrawHeader(Canvas &canvas, const Board &board, const BoardRun &run) {
  canvas.Text(kMargin, 34, 20, "Board: " + (board.name.empty() ? "(unnamed)" : board.name), true);
  std::string summary = "driver status " + StatusName(run.result.status) + "  \u00b7  " +
                        Format("riser identifiers %u, %u, %u", run.result.riser1,
                               run.result.riser2, run.result.riser3) +
                        "  \u00b7  " + Format("%u records written", unsigned(run.added.size())) +
                        "  \u00b7  language " + board.platformLang.value_or("(none)");
  canvas.Text(kMargin, 58, 13, summary, false, "start", "#333333");
  int x = kWidth - kMargin - 300;
  canvas.Box(x, 16, 28, 18, kOccupied);
  canvas.Text(x + 36, 30, 12, "In use / Enabled");
  canvas.Box(x + 160, 16, 28, 18, kVacant);
  canvas.Text(x + 196, 30, 12, "Available / Disabled");
}

void DrawSocket(Canvas &canvas, const Board &board, unsigned socket, int x, int y) {
  canvas.Box(x, y, kColumnWidth, 96, kSocket);
  canvas.Text(x + 14, y + 24, 16, Format("Socket %u", socket), true);
  canvas.Text(x + kColumnWidth - 14, y + 24, 11, Format("bus-number word 0x%08X", board.sockets[socket]),
              false, "end", "#333333");
  constexpr int kChipWidth = (kColumnWidth - 28 - 2 * 10) / 3;
  for (unsigned group = 1; group <= 3; group++) {
    int chipX = x + 14 + static_cast<int>(group - 1) * (kChipWidth + 10);
    canvas.Box(chipX, y + 36, kChipWidth, 48, kGroup, 1);
    canvas.Text(chipX + kChipWidth / 2, y + 55, 12, Format("Root-port group %u", group), true,
                "middle");
    canvas.Text(chipX + kChipWidth / 2, y + 74, 12,
                Format("bus 0x%02X", (board.sockets[socket] >> (8 * group)) & 0xFF), false, "middle");
  }
}

std::string PositionTitle(const Position &position, const BoardRun &run, size_t slots) {
  if (position.riser == 0) return position.title;
  const unsigned ids[] = {run.result.riser1, run.result.riser2, run.result.riser3};
  unsigned id = ids[position.riser - 1];
  unsigned none = position.riser == 3 ? 3 : 7;
  std::string card = id == none ? "no card fitted"
                     : slots < std::size(kCardSizes) ? kCardSizes[slots]
                                                     : "card with " + std::to_string(slots) + " slots";
  return std::string(position.title) + Format("  \u00b7  identifier %u  \u00b7  ", id) + card;
}

void DrawSlot(Canvas &canvas, const Board &board, const Slot &slot, int x, int y, int w) {
  canvas.Box(x, y, w, kSlotHeight, slot.inUse ? kOccupied : kVacant);
  canvas.Text(x + 12, y + 19, 13, slot.designation, true);
  canvas.Text(x + w - 12, y + 19, 13, slot.inUse ? "In use" : "Available", true, "end");
  canvas.Text(x + 12, y + 37, 11,
              std::string(slot.x16 ? "PCIe x16" : "PCIe x8") + "  \u00b7  " +
                  Bdf(slot.bus, slot.device, slot.function) + "  \u00b7  slot ID " +
                  std::to_string(slot.id) + "  \u00b7  " + RootPortOf(board, slot.bus),
              false, "start", "#333333");
}

// Draws one riser or mezzanine position; returns its height.
int DrawPosition(Canvas &canvas, const Board &board, const BoardRun &run, const Position &position,
                 const std::vector<Slot> &slots, int x, int y) {
  std::vector<const Slot *> mine;
  for (const Slot &slot : slots) {
    if (&PositionOf(slot) == &position) mine.push_back(&slot);
  }
  if (mine.empty() && !position.alwaysShown) return -kGap;
  int height = kPositionHeader + (mine.empty() ? 26 : static_cast<int>(mine.size()) * kSlotPitch) + 4;
  canvas.Box(x, y, kColumnWidth, height, kPosition, 1);
  canvas.Text(x + 12, y + 22, 14, PositionTitle(position, run, mine.size()), true);
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
  constexpr int kPerRow = 5, kBoxGap = 10, kHeight = 96;
  constexpr int kBoxWidth = (kWidth - 2 * kMargin - (kPerRow - 1) * kBoxGap) / kPerRow;
  y += 26;
  for (size_t i = 0; i < devices.size(); i++) {
    const Device &device = devices[i];
    int x = kMargin + static_cast<int>(i % kPerRow) * (kBoxWidth + kBoxGap);
    int top = y + static_cast<int>(i / kPerRow) * (kHeight + kBoxGap);
    canvas.Box(x, top, kBoxWidth, kHeight, device.enabled ? kOccupied : kVacant);
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
  int rows = static_cast<int>((devices.size() + kPerRow - 1) / kPerRow);
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
  Canvas canvas;
  std::vector<Slot> slots;
  std::vector<Device> devices;
  ReadRecords(run, slots, devices);

  DrawHeader(canvas, board, run);
  int top = 76;
  int columnY[2];
  for (int column = 0; column < 2; column++) {
    int x = kMargin + column * (kColumnWidth + kGap);
    DrawSocket(canvas, board, static_cast<unsigned>(column), x, top);
    columnY[column] = top + 96 + kGap;
    for (const Position &position : kPositions) {
      if (position.column != column) continue;
      columnY[column] += DrawPosition(canvas, board, run, position, slots, x, columnY[column]) + kGap;
    }
  }
  int y = std::max(columnY[0], columnY[1]);
  y += DrawDevices(canvas, devices, y) + kGap;
  y += DrawReplaced(canvas, board, run, y);
  return canvas.Finish(y + kMargin);
}

}  // namespace sim
