// The platform-description reader over any bytes: it gives a platform, or a
// message that names the field at fault (or says the text is not JSON); never
// a crash, a hang or a leak. A platform it gives must hold what the simulator
// indexes by without looking: every slot's socket among the sockets, every
// position's pads, identifiers and noCard within its pads' reach.
//
// Input: the bytes of a description.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Every problem the reader reports, as the message goes on after "FIELD: ".
const char *const kProblems[] = {"is missing", "must ", "unknown field", "a string number must",
                                 "is not an identifier", "there is no socket", "socket ", "two riser",
                                 "only a riser card", "\""};

[[noreturn]] void Finding(const char *what, const std::string &detail) {
  fuzz::Finding(std::string(what) + ": " + detail);
}

void CheckSlots(const sim::Platform &platform, const std::vector<sim::PlatformSlot> &slots) {
  for (const sim::PlatformSlot &slot : slots) {
    if (slot.socket >= platform.sockets.size()) Finding("slot on a socket not described", std::to_string(slot.slotId));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  sim::Platform platform;
  std::string error;
  bool loaded = sim::ParsePlatform(text, platform, error);
  if (loaded != error.empty()) Finding("outcome and message disagree", error);
  if (!loaded) {
    if (!fuzz::NamesTheField(error, kProblems)) Finding("message names no field", error);
    return 0;
  }
  if (platform.sockets.empty() || platform.sockets.size() > sim::kMaxSockets) Finding("socket count", text);
  if (platform.risers.empty() || platform.risers.size() > sim::kMaxRiserPositions) Finding("position count", text);
  if (platform.mezzanineSlots.empty()) Finding("no mezzanine slot", text);
  CheckSlots(platform, platform.mezzanineSlots);
  for (const sim::PlatformRiserPosition &position : platform.risers) {
    if (position.pads.empty() || position.pads.size() > sim::kMaxPadsPerPosition) Finding("pad count", position.name);
    if (position.noCard && *position.noCard >= position.Identifiers()) Finding("noCard out of reach", position.name);
    for (const auto &[identifier, card] : position.cardOf) {
      if (identifier >= position.Identifiers()) Finding("identifier out of reach", position.name);
    }
    for (const auto &[card, slots] : position.cards) CheckSlots(platform, slots);
  }
  if (!sim::SameDescription(text, platform.text)) Finding("a description differs from itself", text);
  return 0;
}
