// The log of every firmware call and hardware read the driver made. Entries
// are kept as the call's name, a template and its values, and are turned into
// text ("Smbios.Add(type=9) handle 0x0003 -> EFI_SUCCESS") only when someone
// reads the log as lines, so a run whose log nobody reads pays no formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "include/uefi_base.h"

namespace sim {

// One call. `call` and `form` point at string literals. The form's fields
// expand in order: {s} the status's name, {d} the next value in decimal,
// {x} in hexadecimal, {x2} {x4} {x8} zero-padded to that many digits, {g}
// the GUID's name, {t} the text.
struct LogEntry {
  const char *call = "";
  const char *form = "";
  EFI_STATUS status = EFI_SUCCESS;
  uint64_t values[4] = {};
  uint8_t valueCount = 0;
  EFI_GUID guid = {};
  std::string text;

  LogEntry &Value(uint64_t value) {
    if (valueCount < 4) values[valueCount++] = value;
    return *this;
  }
  LogEntry &Status(EFI_STATUS returned) {
    status = returned;
    return *this;
  }
  LogEntry &Guid(const EFI_GUID &named) {
    guid = named;
    return *this;
  }
  LogEntry &Text(std::string_view words) {
    text.assign(words);
    return *this;
  }
  // Checks scan whole logs: compared a letter at a time, most entries differ
  // from the name within a few letters.
  bool Is(std::string_view name) const {
    size_t at = 0;
    for (; at < name.size(); at++) {
      if (call[at] != name[at]) return false;
    }
    return call[at] == '\0';
  }
  std::string Line() const;
};

class CallLog {
 public:
  CallLog();
  ~CallLog();
  CallLog(const CallLog &other) = default;
  CallLog(CallLog &&other) = default;
  CallLog &operator=(const CallLog &other) = default;
  CallLog &operator=(CallLog &&other) = default;

  // Starts an entry; the caller fills in its values.
  LogEntry &Add(const char *call, const char *form) {
    LogEntry &entry = entries_.emplace_back();
    entry.call = call;
    entry.form = form;
    return entry;
  }
  // A free-text entry.
  void AddLine(std::string line) { Add("", "{t}").text = std::move(line); }

  const std::vector<LogEntry> &Entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  void clear() {
    entries_.clear();
    lines_.clear();
  }

  // The entries as text, formatted on first reading.
  const std::vector<std::string> &Lines() const;
  std::vector<std::string>::const_iterator begin() const { return Lines().begin(); }
  std::vector<std::string>::const_iterator end() const { return Lines().end(); }
  const std::string &operator[](size_t index) const { return Lines()[index]; }
  operator std::vector<std::string>() const { return Lines(); }

 private:
  std::vector<LogEntry> entries_;
  mutable std::vector<std::string> lines_;
};

}  // namespace sim
