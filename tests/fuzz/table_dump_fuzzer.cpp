// The table-dump reader behind boardsim --compare over arbitrary files, and
// the comparison over whatever it accepts.
//
// A dump it accepts must split, from offset 0x20 on, into back-to-back
// structures that each end in a double NUL, with nothing after an
// end-of-table structure; compared with itself it must show no difference,
// and compared with the driver's records for a board it must not fail.
//
// Input: the whole file, as dmidecode --dump-bin writes it.
#include <string>
#include <vector>

#include "sim/simulated_board.h"
#include "sim/table_compare.h"
#include "sim/table_dump.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The driver's records on a board with slots on every riser, made once.
const std::vector<sim::SmbiosRecord> &DriverRecords() {
  static const std::vector<sim::SmbiosRecord> records = [] {
    sim::Board board;
    board.riserIds = {3, 3, 1};
    return sim::RunBoard(board).table;
  }();
  return records;
}

void CheckStructures(const uint8_t *data, size_t size, const sim::TableDump &dump) {
  size_t at = sim::kDumpTableOffset;
  for (const sim::SmbiosRecord &record : dump.records) {
    const std::vector<uint8_t> &b = record.bytes;
    if (b.size() < 6 || b[1] < 4 || b.size() < size_t{b[1]} + 2) {
      fuzz::Finding("record shorter than its header");
    }
    if (b[b.size() - 1] != 0 || b[b.size() - 2] != 0) fuzz::Finding("record without its double NUL");
    if (at + b.size() > size || !std::equal(b.begin(), b.end(), data + at)) {
      fuzz::Finding("record is not the file's bytes at its place");
    }
    if (record.Type() == 127 && &record != &dump.records.back()) {
      fuzz::Finding("record after the end of table");
    }
    at += b.size();
  }
  if (dump.smbios3 && (dump.records.empty() || dump.records.back().Type() != 127)) {
    fuzz::Finding("SMBIOS 3 table accepted without its end-of-table structure");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::TableDump dump;
  std::string error;
  if (!sim::ReadTableDump(data, size, dump, error)) {
    if (error.empty()) fuzz::Finding("refused without a message");
    return 0;
  }
  CheckStructures(data, size, dump);
  std::vector<std::string> self = sim::CompareInventory(dump.records, dump.records);
  if (!self.empty()) fuzz::Finding("a table differs from itself: " + self.front());
  sim::CompareInventory(DriverRecords(), dump.records);
  return 0;
}
