// Builds package arrays (32-bit length, then one string package of UCS-2
// blocks) for tests that need packages other than the driver's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

inline void PutLittleEndian(std::vector<uint8_t> &bytes, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; i++) {
    bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

inline void SetLittleEndian(std::vector<uint8_t> &bytes, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; i++) {
    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

// A string package for `language` with one UCS-2 block per text, ids from 1.
inline std::vector<uint8_t> StringPackage(const std::string &language,
                                          const std::vector<std::u16string> &texts) {
  std::vector<uint8_t> package;
  size_t headerSize = 46 + language.size() + 1;
  PutLittleEndian(package, 0, 3);  // length, set below
  package.push_back(0x04);
  PutLittleEndian(package, headerSize, 4);
  PutLittleEndian(package, headerSize, 4);
  package.insert(package.end(), 32, 0);  // LanguageWindow
  PutLittleEndian(package, 1, 2);        // LanguageName
  package.insert(package.end(), language.begin(), language.end());
  package.push_back(0);
  for (const std::u16string &text : texts) {
    package.push_back(0x14);
    for (char16_t c : text) {
      PutLittleEndian(package, c, 2);
    }
    PutLittleEndian(package, 0, 2);
  }
  package.push_back(0x00);
  SetLittleEndian(package, 0, package.size(), 3);
  return package;
}

// A package array carrying the given packages.
inline std::vector<uint8_t> PackageArray(const std::vector<std::vector<uint8_t>> &packages) {
  std::vector<uint8_t> array;
  PutLittleEndian(array, 0, 4);
  for (const std::vector<uint8_t> &package : packages) {
    array.insert(array.end(), package.begin(), package.end());
  }
  SetLittleEndian(array, 0, array.size(), 4);
  return array;
}

// A whole package list: header, the packages, the end package.
inline std::vector<uint8_t> PackageList(const uint8_t (&guid)[16],
                                        const std::vector<std::vector<uint8_t>> &packages) {
  std::vector<uint8_t> list(guid, guid + 16);
  PutLittleEndian(list, 0, 4);
  for (const std::vector<uint8_t> &package : packages) {
    list.insert(list.end(), package.begin(), package.end());
  }
  list.insert(list.end(), {0x04, 0x00, 0x00, 0xDF});
  SetLittleEndian(list, 16, list.size(), 4);
  return list;
}

}  // namespace test
