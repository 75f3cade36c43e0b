// What several unit suites share: SMBIOS records as a producer hands them to
// the protocol, and the check every test of driver code ends with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "entry/startup.h"
#include "sim/firmware.h"

namespace test {

// Header with the handle left for the protocol to assign, the formatted bytes
// after it, then the string area.
inline std::vector<uint8_t> RawRecord(uint8_t type, const std::vector<uint8_t> &formatted,
                                      const std::vector<std::string> &strings) {
  // Byte by byte: g++ 12 at -O3 misreads inserting one vector's range after
  // an initializer list as an overflow.
  std::vector<uint8_t> bytes = {type, static_cast<uint8_t>(4 + formatted.size()), 0xFE, 0xFF};
  for (uint8_t byte : formatted) bytes.push_back(byte);
  for (const std::string &text : strings) {
    for (char c : text) bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  if (strings.empty()) bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// Every pool block given back, no pool misuse; then the driver's module-level
// state cleared so that the next test starts as a freshly loaded image.
inline void ExpectPoolCleanAndReset(const sim::Firmware &firmware) {
  EXPECT_EQ(firmware.pool.Outstanding(), 0u) << firmware.pool.LeakReport();
  EXPECT_TRUE(firmware.pool.Errors().empty()) << firmware.pool.Errors().front();
  ResetDriverState();
}

}  // namespace test
