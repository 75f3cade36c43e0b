// UEFI variables behind the runtime GetVariable service (UEFI 2.10, 8.2).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/firmware.h"

namespace sim {

// Attribute bits of a variable (UEFI 2.10, 8.2).
inline constexpr UINT32 EFI_VARIABLE_NON_VOLATILE = 0x00000001;
inline constexpr UINT32 EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x00000002;
inline constexpr UINT32 EFI_VARIABLE_RUNTIME_ACCESS = 0x00000004;
inline constexpr UINT32 kGlobalLanguageAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

class VariableStore {
 public:
  // Serves the firmware's GetVariable from this store unless told not to.
  explicit VariableStore(Firmware &firmware, bool install = true);
  ~VariableStore();
  VariableStore(const VariableStore &) = delete;
  VariableStore &operator=(const VariableStore &) = delete;

  void Install();

  // Stores the bytes exactly as given: no NUL is added or required.
  void Set(std::u16string_view name, const EFI_GUID &vendor, std::vector<uint8_t> bytes,
           UINT32 attributes = kGlobalLanguageAttributes);
  void Remove(std::u16string_view name, const EFI_GUID &vendor);
  bool Contains(std::u16string_view name, const EFI_GUID &vendor) const;

  // PlatformLang under EFI_GLOBAL_VARIABLE, as the text's bytes, with its NUL
  // unless told otherwise.
  void SetPlatformLang(std::string_view text, bool withNul = true);

  EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes,
                         UINTN *dataSize, VOID *data) const;

 private:
  struct Variable {
    std::vector<uint8_t> bytes;
    UINT32 attributes;
  };
  using Key = std::pair<std::u16string, EFI_GUID>;
  // Looked up by a view of the name, so a lookup copies nothing.
  using KeyView = std::pair<std::u16string_view, EFI_GUID>;
  struct KeyLess {
    using is_transparent = void;
    static bool Less(const KeyView &a, const KeyView &b);
    bool operator()(const Key &a, const Key &b) const { return Less(a, b); }
    bool operator()(const Key &a, const KeyView &b) const { return Less(a, b); }
    bool operator()(const KeyView &a, const Key &b) const { return Less(a, b); }
  };

  Firmware &firmware_;
  std::map<Key, Variable, KeyLess> variables_;
  bool installed_ = false;
};

}  // namespace sim
