// The firmware's HII database (UEFI 2.10, chapters 33 and 34): package lists
// registered through EFI_HII_DATABASE_PROTOCOL.NewPackageList, and their
// strings served through EFI_HII_STRING_PROTOCOL.GetLanguages and GetString.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "include/uefi_hii.h"
#include "sim/firmware.h"

namespace sim {

// One string package as the database's own parser read it.
struct HiiStringPackage {
  std::string language;
  EFI_STRING_ID languageName = 0;
  std::map<EFI_STRING_ID, std::u16string> strings;
  size_t endBlockOffset = 0;  // of the EFI_HII_SIBT_END block, from the package's start
};

// Parses a string package of `size` bytes starting at its package header:
// the header (HdrSize, StringInfoOffset, a NUL-terminated language inside the
// header) and every string block up to the end block. False, with the reason
// in *problem, for anything malformed or of an unknown block type.
bool ParseStringPackage(const uint8_t *package, size_t size, HiiStringPackage *parsed,
                        std::string *problem);

struct HiiPackageList {
  EFI_HII_HANDLE handle = nullptr;
  EFI_GUID guid = {};
  EFI_HANDLE driverHandle = nullptr;
  std::vector<uint8_t> bytes;          // the whole list as registered
  std::vector<uint8_t> packageTypes;   // in list order, the end package included
  // Shared: lists registered with the same bytes hold the same packages.
  std::shared_ptr<const std::vector<HiiStringPackage>> stringPackages;
  std::string languages;  // as GetLanguages gives them, worked out once at registration

  const std::vector<HiiStringPackage> &StringPackages() const {
    static const std::vector<HiiStringPackage> none;
    return stringPackages ? *stringPackages : none;
  }
};

class HiiDatabase {
 public:
  // Installs both protocols on one handle of their own unless told not to.
  explicit HiiDatabase(Firmware &firmware, bool install = true);
  ~HiiDatabase();
  HiiDatabase(const HiiDatabase &) = delete;
  HiiDatabase &operator=(const HiiDatabase &) = delete;

  EFI_HII_DATABASE_PROTOCOL *DatabaseProtocol() { return &database_.protocol; }
  EFI_HII_STRING_PROTOCOL *StringProtocol() { return &string_.protocol; }
  void Install();

  const std::vector<HiiPackageList> &PackageLists() const { return lists_; }
  const HiiPackageList *FindPackageList(const EFI_GUID &guid) const;
  const HiiPackageList *FindPackageList(EFI_HII_HANDLE handle) const;
  // Id to text over the list's string packages in `language`.
  static std::map<EFI_STRING_ID, std::u16string> Strings(const HiiPackageList &list,
                                                         const std::string &language);

  // Protocol members. Fault-injection names: "NewPackageList",
  // "GetLanguages", "GetString".
  EFI_STATUS NewPackageList(const EFI_HII_PACKAGE_LIST_HEADER *packageList,
                            EFI_HANDLE driverHandle, EFI_HII_HANDLE *handle);
  EFI_STATUS GetLanguages(EFI_HII_HANDLE packageList, CHAR8 *languages, UINTN *languagesSize);
  EFI_STATUS GetString(const CHAR8 *language, EFI_HII_HANDLE packageList, EFI_STRING_ID stringId,
                       EFI_STRING string, UINTN *stringSize, EFI_FONT_INFO **stringFontInfo);

  // The protocol structures handed out, with a way back to their database.
  struct DatabaseWrapper {
    EFI_HII_DATABASE_PROTOCOL protocol;
    HiiDatabase *self;
  };
  struct StringWrapper {
    EFI_HII_STRING_PROTOCOL protocol;
    HiiDatabase *self;
  };

 private:
  bool ParsePackageList(const EFI_HII_PACKAGE_LIST_HEADER *header, HiiPackageList *parsed,
                        std::string *problem) const;
  std::string LanguageList(const HiiPackageList &list) const;

  Firmware &firmware_;
  DatabaseWrapper database_{};
  StringWrapper string_{};
  EFI_HANDLE installedOn_ = nullptr;
  std::vector<HiiPackageList> lists_;
};

}  // namespace sim
