#include "sim/call_log.h"

#include <cstdio>
#include <cstring>

#include "sim/firmware.h"
#include "sim/status_names.h"

namespace sim {

namespace {

void AppendNumber(std::string &line, uint64_t value, bool hex, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), hex ? "%0*llX" : "%0*llu", digits,
                static_cast<unsigned long long>(value));
  line += text;
}

// The storage of the last log to go, for the next one: a run makes a few
// hundred entries, and fresh storage for them each run (which the address
// sanitizer's quarantine makes truly fresh) cost more than the entries.
std::vector<LogEntry> gSpareEntries;

}  // namespace

CallLog::CallLog() {
  entries_.swap(gSpareEntries);
  entries_.clear();
  if (entries_.capacity() == 0) {
    entries_.reserve(512);
  }
}

CallLog::~CallLog() {
  if (entries_.capacity() > gSpareEntries.capacity()) {
    entries_.clear();
    entries_.swap(gSpareEntries);
  }
}

std::string LogEntry::Line() const {
  std::string line = call;
  size_t next = 0;
  for (const char *at = form; *at != '\0'; at++) {
    const char *close = *at == '{' ? std::strchr(at, '}') : nullptr;
    if (close == nullptr) {
      line += *at;
      continue;
    }
    std::string_view field(at + 1, static_cast<size_t>(close - at - 1));
    uint64_t value = next < valueCount ? values[next] : 0;
    if (field == "s") {
      line += StatusName(status);
    } else if (field == "g") {
      line += GuidName(guid);
    } else if (field == "t") {
      line += text;
    } else if (field == "d") {
      AppendNumber(line, value, false, 1);
      next++;
    } else if (field[0] == 'x') {
      AppendNumber(line, value, true, field.size() > 1 ? field[1] - '0' : 1);
      next++;
    }
    at = close;
  }
  return line;
}

const std::vector<std::string> &CallLog::Lines() const {
  lines_.reserve(entries_.size());
  for (size_t i = lines_.size(); i < entries_.size(); i++) {
    lines_.push_back(entries_[i].Line());
  }
  return lines_;
}

}  // namespace sim
