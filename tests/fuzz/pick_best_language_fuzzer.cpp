// PickBestLanguage over arbitrary supported lists and candidates, checked
// against RFC 4646 prefix matching written plainly over std::string.
//
// Input: flags, then NUL-separated pieces: the supported list, then up to
// eight candidates. Flag 0x01 fails the result's allocation; flag 0x02 puts a
// null candidate at position (flags >> 4).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/firmware_services.h"
#include "hii/string_lookup.h"
#include "sim/firmware.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

size_t CodeLength(const std::string &text, size_t from) {
  size_t end = from;
  while (end < text.size() && text[end] != ';') end++;
  return end - from;
}

std::optional<std::string> ModelPick(const std::string &supported,
                                     const std::vector<const std::string *> &candidates) {
  for (const std::string *candidate : candidates) {
    if (candidate == nullptr) continue;
    size_t length = CodeLength(*candidate, 0);
    while (length > 0) {
      for (size_t at = 0; at < supported.size();) {
        while (at < supported.size() && supported[at] == ';') at++;
        size_t code = CodeLength(supported, at);
        if (code >= length && supported.compare(at, length, *candidate, 0, length) == 0) {
          return supported.substr(at, code);
        }
        at += code;
      }
      size_t shorter = 0;
      for (size_t position = length - 1; position >= 1; position--) {
        if ((*candidate)[position] == '-') {
          shorter = position;
          break;
        }
      }
      length = shorter;
    }
  }
  return std::nullopt;
}

// A NUL-terminated copy in a heap block of exactly its size.
std::unique_ptr<CHAR8[]> Exact(const std::string &text) {
  std::unique_ptr<CHAR8[]> copy(new CHAR8[text.size() + 1]);
  for (size_t i = 0; i < text.size(); i++) copy[i] = static_cast<CHAR8>(text[i]);
  copy[text.size()] = 0;
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Firmware &firmware = fuzz::ProcessFirmware();
  fuzz::ByteReader in(data, size);
  uint8_t flags = in.Byte();
  std::vector<std::string> pieces(1);
  for (uint8_t byte : in.Rest()) {
    if (byte == 0) {
      if (pieces.size() == 9) break;
      pieces.emplace_back();
    } else {
      pieces.back() += static_cast<char>(byte);
    }
  }
  std::unique_ptr<CHAR8[]> supported = Exact(pieces[0]);
  std::vector<std::unique_ptr<CHAR8[]>> owned;
  std::vector<const CHAR8 *> candidates;
  std::vector<const std::string *> modelCandidates;
  for (size_t i = 1; i < pieces.size(); i++) {
    owned.push_back(Exact(pieces[i]));
    candidates.push_back(owned.back().get());
    modelCandidates.push_back(&pieces[i]);
  }
  if ((flags & 0x02) != 0) {
    size_t at = (flags >> 4) % (candidates.size() + 1);
    candidates.insert(candidates.begin() + static_cast<long>(at), nullptr);
    modelCandidates.insert(modelCandidates.begin() + static_cast<long>(at), nullptr);
  }
  bool failAllocation = (flags & 0x01) != 0;

  firmware.faults.Clear();
  firmware.log.clear();
  if (failAllocation) firmware.faults.FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES);
  uint64_t allocationsBefore = firmware.pool.AllocationCount();

  CHAR8 *best = PickBestLanguage(supported.get(), candidates.data(), candidates.size());

  std::optional<std::string> expected = ModelPick(pieces[0], modelCandidates);
  if (failAllocation) {
    FUZZ_REQUIRE(best == nullptr, "a result without memory for it");
  } else if (expected) {
    FUZZ_REQUIRE(best != nullptr, "no language where \"" + *expected + "\" matches");
    FUZZ_REQUIRE(std::string(reinterpret_cast<const char *>(best)) == *expected,
                 "picked \"" + std::string(reinterpret_cast<const char *>(best)) + "\", not \"" +
                     *expected + "\"");
  } else {
    FUZZ_REQUIRE(best == nullptr, "picked a language where none matches");
  }
  // One allocation for a match, none without.
  FUZZ_REQUIRE(firmware.pool.AllocationCount() - allocationsBefore <= 1, "extra allocations");
  if (best != nullptr) gBootServices->FreePool(best);
  FUZZ_REQUIRE(firmware.pool.Outstanding() == 0, "leak: " + firmware.pool.LeakReport());
  FUZZ_REQUIRE(firmware.pool.Errors().empty(), "pool: " + firmware.pool.Errors().front());
  return 0;
}
