#include "sim/variable_store.h"

#include <cstring>

#include "include/guids.h"

namespace sim {

bool VariableStore::KeyLess::Less(const KeyView &a, const KeyView &b) {
  // Any strict order serves; names of different lengths differ at once.
  if (a.first.size() != b.first.size()) {
    return a.first.size() < b.first.size();
  }
  int names = std::memcmp(a.first.data(), b.first.data(), a.first.size() * sizeof(char16_t));
  if (names != 0) {
    return names < 0;
  }
  return a.second < b.second;
}

VariableStore::VariableStore(Firmware &firmware, bool install) : firmware_(firmware) {
  if (install) {
    Install();
  }
}

VariableStore::~VariableStore() {
  if (installed_) {
    firmware_.SetVariableService(nullptr);
  }
}

void VariableStore::Install() {
  firmware_.SetVariableService([this](const CHAR16 *name, const EFI_GUID *vendor,
                                      UINT32 *attributes, UINTN *dataSize, VOID *data) {
    return GetVariable(name, vendor, attributes, dataSize, data);
  });
  installed_ = true;
}

void VariableStore::Set(std::u16string_view name, const EFI_GUID &vendor,
                        std::vector<uint8_t> bytes, UINT32 attributes) {
  variables_[{std::u16string(name), vendor}] = {std::move(bytes), attributes};
}

void VariableStore::Remove(std::u16string_view name, const EFI_GUID &vendor) {
  variables_.erase({std::u16string(name), vendor});
}

bool VariableStore::Contains(std::u16string_view name, const EFI_GUID &vendor) const {
  return variables_.count({std::u16string(name), vendor}) != 0;
}

void VariableStore::SetPlatformLang(std::string_view text, bool withNul) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  if (withNul) {
    bytes.push_back(0);
  }
  Set(u"PlatformLang", gEfiGlobalVariableGuid, std::move(bytes));
}

EFI_STATUS VariableStore::GetVariable(const CHAR16 *name, const EFI_GUID *vendor,
                                      UINT32 *attributes, UINTN *dataSize, VOID *data) const {
  if (name == nullptr || vendor == nullptr || dataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto found = variables_.find(KeyView(name, *vendor));
  if (found == variables_.end()) {
    return EFI_NOT_FOUND;
  }
  const Variable &variable = found->second;
  UINTN needed = variable.bytes.size();
  // The attributes are returned with the data and with a too-small answer alike.
  if (*dataSize < needed) {
    *dataSize = needed;
    if (attributes != nullptr) {
      *attributes = variable.attributes;
    }
    return EFI_BUFFER_TOO_SMALL;
  }
  // Data may be null only to learn the size, which a large enough DataSize does not ask.
  if (data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (needed != 0) {
    std::memcpy(data, variable.bytes.data(), needed);
  }
  *dataSize = needed;
  if (attributes != nullptr) {
    *attributes = variable.attributes;
  }
  return EFI_SUCCESS;
}

}  // namespace sim
