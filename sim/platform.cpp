// The built-in platform, and descriptions compared as JSON.
#include "sim/platform.h"

#include <nlohmann/json.hpp>

namespace sim {

// Written by the generator for each platform (platform_model.cpp).
extern const Platform kBuiltInPlatform;

const PlatformCard *PlatformRiserPosition::CardOf(unsigned identifier) const {
  for (const PlatformCardRange &range : cardMap) {
    if (identifier >= range.first && identifier <= range.last) return &cards[range.card];
  }
  return nullptr;
}

bool SameDescription(const std::string &first, const std::string &second) {
  nlohmann::json a = nlohmann::json::parse(first, nullptr, false);
  nlohmann::json b = nlohmann::json::parse(second, nullptr, false);
  return !a.is_discarded() && a == b;
}

const Platform &BuiltInPlatform() { return kBuiltInPlatform; }

const char *BuiltInPlatformSource() { return kBuiltInPlatform.source; }

}  // namespace sim
