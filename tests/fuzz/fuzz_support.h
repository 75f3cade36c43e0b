// Helpers shared by the fuzz targets: a front-to-back reader over the input,
// so that seed files can be written by hand, a way to stop on a finding, and
// one firmware model for targets that need no fresh one per input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "sim/firmware.h"

namespace fuzz {

// Reads the input from its start; past the end every read gives zeros.
class ByteReader {
 public:
  ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Word32() { return Word16() | static_cast<uint32_t>(Word16()) << 16; }
  uint64_t Word64() { return Word32() | static_cast<uint64_t>(Word32()) << 32; }
  std::vector<uint8_t> Bytes(size_t count) {
    std::vector<uint8_t> bytes;
    while (count-- > 0 && at_ < size_) bytes.push_back(data_[at_++]);
    return bytes;
  }
  std::vector<uint8_t> Rest() { return Bytes(size_ - at_); }
  size_t Remaining() const { return size_ - at_; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

// One firmware model for the whole process, its boot services the driver's:
// targets that only allocate need no fresh one per input.
inline sim::Firmware &ProcessFirmware() {
  static sim::Firmware *firmware = [] {
    auto *created = new sim::Firmware();
    gBootServices = created->BootServices();
    return created;
  }();
  return *firmware;
}

// A finding: say what broke and stop, so that libFuzzer keeps the input.
[[noreturn]] inline void Finding(const std::string &what) {
  std::fprintf(stderr, "\n*** finding: %s\n", what.c_str());
  std::abort();
}

}  // namespace fuzz

// Stops with a finding unless `holds`; the message is built only then.
#define FUZZ_REQUIRE(holds, what)      \
  do {                                 \
    if (!(holds)) fuzz::Finding(what); \
  } while (0)

namespace fuzz {

// True when a reader's message names a field: some "FIELD: " is followed by
// one of the reader's own problems (or the text is not JSON at all).
template <size_t Count>
bool NamesTheField(const std::string &error, const char *const (&problems)[Count]) {
  if (error.rfind("not valid JSON: ", 0) == 0) return true;
  for (size_t colon = error.find(": "); colon != std::string::npos; colon = error.find(": ", colon + 1)) {
    if (colon == 0) continue;
    for (const char *problem : problems) {
      if (error.compare(colon + 2, std::string(problem).size(), problem) == 0) return true;
    }
  }
  return false;
}

inline std::string HexBytes(const uint8_t *bytes, size_t count) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < count; i++) {
    std::snprintf(pair, sizeof(pair), "%02X ", bytes[i]);
    text += pair;
  }
  return text;
}

}  // namespace fuzz
