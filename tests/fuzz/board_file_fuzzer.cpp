// The board-file reader over any bytes: it gives a board, or a message that
// names the field at fault (or says the text is not JSON); never a crash, a
// hang or a leak. Each earlier record a board describes must come out as a
// well-formed structure, since the simulator adds it to the table as is.
//
// Input: the bytes of a board file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/board.h"
#include "sim/smbios_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Every problem the reader reports, as the message goes on after "FIELD: ".
const char *const kProblems[] = {"is missing", "must ", "unknown field", "a string number must",
                                 "counts allocations from 1", "counts adds from 1",
                                 "counts removals from 1", "\""};

[[noreturn]] void Finding(const char *what, const std::string &detail) {
  fuzz::Finding(std::string(what) + ": " + detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Board board;
  std::string error;
  bool loaded = sim::ParseBoard(std::string(reinterpret_cast<const char *>(data), size), board, error);
  if (loaded != error.empty()) Finding("outcome and message disagree", error);
  if (!loaded && !fuzz::NamesTheField(error, kProblems)) Finding("message names no field", error);
  for (const sim::EarlierRecord &record : board.smbios) {
    std::vector<uint8_t> bytes = sim::EarlierRecordBytes(record);
    if (sim::MeasureRecord(bytes.data(), bytes.size()) != bytes.size()) {
      Finding("earlier record is not a whole structure", std::to_string(record.type));
    }
  }
  return 0;
}
