#include "sim/hii_database.h"

#include <cstring>

#include "include/guids.h"
#include "sim/status_names.h"

namespace sim {

namespace {

constexpr size_t kListHeaderSize = sizeof(EFI_HII_PACKAGE_LIST_HEADER);
constexpr size_t kPackageHeaderSize = sizeof(EFI_HII_PACKAGE_HEADER);
constexpr size_t kStringHeaderFixedSize = EFI_HII_STRING_PACKAGE_FIXED_SIZE;
constexpr uint32_t kLargestStringId = 0xFFFF;

// ---- Protocol entry points ----

HiiDatabase &Self(const EFI_HII_DATABASE_PROTOCOL *This) {
  return *reinterpret_cast<const HiiDatabase::DatabaseWrapper *>(This)->self;
}
HiiDatabase &Self(const EFI_HII_STRING_PROTOCOL *This) {
  return *reinterpret_cast<const HiiDatabase::StringWrapper *>(This)->self;
}

EFI_STATUS EFIAPI NewPackageListEntry(const EFI_HII_DATABASE_PROTOCOL *This,
                                      const EFI_HII_PACKAGE_LIST_HEADER *PackageList,
                                      EFI_HANDLE DriverHandle, EFI_HII_HANDLE *Handle) {
  return Self(This).NewPackageList(PackageList, DriverHandle, Handle);
}
EFI_STATUS EFIAPI GetStringEntry(const EFI_HII_STRING_PROTOCOL *This, const CHAR8 *Language,
                                 EFI_HII_HANDLE PackageList, EFI_STRING_ID StringId,
                                 EFI_STRING String, UINTN *StringSize,
                                 EFI_FONT_INFO **StringFontInfo) {
  return Self(This).GetString(Language, PackageList, StringId, String, StringSize,
                              StringFontInfo);
}
EFI_STATUS EFIAPI GetLanguagesEntry(const EFI_HII_STRING_PROTOCOL *This,
                                    EFI_HII_HANDLE PackageList, CHAR8 *Languages,
                                    UINTN *LanguagesSize) {
  return Self(This).GetLanguages(PackageList, Languages, LanguagesSize);
}

// Members this database does not model answer this, and say so in the log.
EFI_STATUS EFIAPI UnsupportedMemberEntry() {
  Firmware::Active().Log("Hii: unsupported protocol member called -> EFI_UNSUPPORTED");
  return EFI_UNSUPPORTED;
}

template <typename Table>
void FillWithUnsupported(Table &table) {
  VOID **slots = reinterpret_cast<VOID **>(&table);
  for (size_t i = 0; i < sizeof(Table) / sizeof(VOID *); i++) {
    slots[i] = reinterpret_cast<VOID *>(&UnsupportedMemberEntry);
  }
}

// ---- Bounded little-endian reading ----

struct Reader {
  const uint8_t *bytes;
  size_t size;

  bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }
  // The caller has checked Has(at, width).
  uint32_t Le(size_t at, size_t width) const {
    uint32_t value = 0;
    for (size_t i = 0; i < width; i++) {
      value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
  }
};

// SCSU text: the single-byte characters of its initial state, taken as they
// are (window-switching tags are not interpreted; no string here uses them).
// Both readers find the NUL first and then take the text in one piece.
bool ReadByteString(const Reader &r, size_t at, std::u16string *text, size_t *next) {
  const void *nul = at < r.size ? std::memchr(r.bytes + at, 0, r.size - at) : nullptr;
  if (nul == nullptr) {
    return false;
  }
  size_t end = static_cast<size_t>(static_cast<const uint8_t *>(nul) - r.bytes);
  text->assign(r.bytes + at, r.bytes + end);
  *next = end + 1;
  return true;
}

bool ReadWideString(const Reader &r, size_t at, std::u16string *text, size_t *next) {
  size_t end = at;
  while (r.Has(end, sizeof(char16_t)) && r.Le(end, sizeof(char16_t)) != 0) {
    end += sizeof(char16_t);
  }
  if (!r.Has(end, sizeof(char16_t))) {
    return false;
  }
  text->resize((end - at) / sizeof(char16_t));
  for (size_t i = 0; i < text->size(); i++) {
    (*text)[i] = static_cast<char16_t>(r.Le(at + i * sizeof(char16_t), sizeof(char16_t)));
  }
  *next = end + sizeof(char16_t);
  return true;
}

// The eight blocks that carry string text (UEFI 2.10, 33.3.6.2): one or a
// counted run of strings, SCSU or UCS-2, with or without a font byte.
struct TextBlockShape {
  uint8_t type;
  bool wide;
  bool font;
  bool counted;
};
constexpr TextBlockShape kTextBlocks[] = {
    {EFI_HII_SIBT_STRING_SCSU, false, false, false},
    {EFI_HII_SIBT_STRING_SCSU_FONT, false, true, false},
    {EFI_HII_SIBT_STRINGS_SCSU, false, false, true},
    {EFI_HII_SIBT_STRINGS_SCSU_FONT, false, true, true},
    {EFI_HII_SIBT_STRING_UCS2, true, false, false},
    {EFI_HII_SIBT_STRING_UCS2_FONT, true, true, false},
    {EFI_HII_SIBT_STRINGS_UCS2, true, false, true},
    {EFI_HII_SIBT_STRINGS_UCS2_FONT, true, true, true},
};

const TextBlockShape *FindTextBlock(uint8_t type) {
  for (const TextBlockShape &shape : kTextBlocks) {
    if (shape.type == type) {
      return &shape;
    }
  }
  return nullptr;
}

// Extended blocks carry their whole length, header included, in a field of
// 1, 2 or 4 bytes after the BlockType2 byte; the ids do not advance.
struct ExtendedBlockShape {
  uint8_t type;
  size_t lengthWidth;
};
constexpr ExtendedBlockShape kExtendedBlocks[] = {
    {EFI_HII_SIBT_EXT1, 1},
    {EFI_HII_SIBT_EXT2, 2},
    {EFI_HII_SIBT_EXT4, 4},
};
constexpr size_t kExtendedLengthOffset = 2;  // after the type and BlockType2 bytes

class BlockParser {
 public:
  BlockParser(const Reader &r, HiiStringPackage *out, std::string *problem)
      : r_(r), out_(out), problem_(problem) {}

  bool Parse(size_t at) {
    for (;;) {
      if (!r_.Has(at, 1)) {
        return Fail("string blocks run past the package without an end block");
      }
      uint8_t type = r_.bytes[at];
      if (type == EFI_HII_SIBT_END) {
        out_->endBlockOffset = at;
        return true;
      }
      size_t next = 0;
      if (!Block(type, at, &next)) {
        return false;
      }
      at = next;
    }
  }

 private:
  bool Fail(const std::string &why) {
    *problem_ = why;
    return false;
  }

  bool AddString(std::u16string text) {
    if (nextId_ > kLargestStringId) {
      return Fail("string id beyond 0xFFFF");
    }
    out_->strings.insert_or_assign(static_cast<EFI_STRING_ID>(nextId_), std::move(text));
    nextId_++;
    return true;
  }

  bool Block(uint8_t type, size_t at, size_t *next) {
    if (const TextBlockShape *shape = FindTextBlock(type)) {
      return TextBlock(*shape, at, next);
    }
    for (const ExtendedBlockShape &shape : kExtendedBlocks) {
      if (shape.type == type) {
        return ExtendedBlock(shape, at, next);
      }
    }
    switch (type) {
      case EFI_HII_SIBT_DUPLICATE:
        return DuplicateBlock(at, next);
      case EFI_HII_SIBT_SKIP2:
        return SkipBlock(at, sizeof(uint16_t), next);
      case EFI_HII_SIBT_SKIP1:
        return SkipBlock(at, sizeof(uint8_t), next);
      default:
        return Fail("unknown string block type " + std::to_string(type) + " at offset " +
                    std::to_string(at));
    }
  }

  bool TextBlock(const TextBlockShape &shape, size_t at, size_t *next) {
    size_t pos = at + 1 + (shape.font ? 1 : 0);
    uint32_t count = 1;
    if (shape.counted) {
      if (!r_.Has(pos, sizeof(uint16_t))) {
        return Fail("string count past the package");
      }
      count = r_.Le(pos, sizeof(uint16_t));
      pos += sizeof(uint16_t);
    }
    for (uint32_t i = 0; i < count; i++) {
      std::u16string text;
      bool ended = shape.wide ? ReadWideString(r_, pos, &text, &pos)
                              : ReadByteString(r_, pos, &text, &pos);
      if (!ended) {
        return Fail("string at offset " + std::to_string(at) + " has no NUL inside the package");
      }
      if (!AddString(std::move(text))) {
        return false;
      }
    }
    *next = pos;
    return true;
  }

  bool DuplicateBlock(size_t at, size_t *next) {
    if (!r_.Has(at + 1, sizeof(EFI_STRING_ID))) {
      return Fail("duplicate block past the package");
    }
    auto earlier = out_->strings.find(static_cast<EFI_STRING_ID>(r_.Le(at + 1, 2)));
    if (earlier == out_->strings.end()) {
      return Fail("duplicate of a string not defined before it");
    }
    *next = at + 1 + sizeof(EFI_STRING_ID);
    return AddString(std::u16string(earlier->second));
  }

  bool SkipBlock(size_t at, size_t width, size_t *next) {
    if (!r_.Has(at + 1, width)) {
      return Fail("skip block past the package");
    }
    nextId_ += r_.Le(at + 1, width);
    *next = at + 1 + width;
    return true;
  }

  bool ExtendedBlock(const ExtendedBlockShape &shape, size_t at, size_t *next) {
    size_t headerSize = kExtendedLengthOffset + shape.lengthWidth;
    if (!r_.Has(at, headerSize)) {
      return Fail("extended block header past the package");
    }
    uint32_t length = r_.Le(at + kExtendedLengthOffset, shape.lengthWidth);
    if (length < headerSize || !r_.Has(at, length)) {
      return Fail("extended block length outside the package");
    }
    *next = at + length;
    return true;
  }

  const Reader &r_;
  HiiStringPackage *out_;
  std::string *problem_;
  uint32_t nextId_ = 1;
};

// Package types defined for a package list (UEFI 2.10, 33.3.1.1); type 0
// only ever names "all types" in queries.
bool KnownPackageType(uint8_t type) {
  return (type >= 0x01 && type <= 0x0A && type != 0x03) || type == EFI_HII_PACKAGE_END ||
         type >= 0xE0;
}

std::string_view Quoted(const char *text) { return text == nullptr ? "null" : text; }

}  // namespace

bool ParseStringPackage(const uint8_t *package, size_t size, HiiStringPackage *parsed,
                        std::string *problem) {
  auto fail = [&](const std::string &why) {
    *problem = why;
    return false;
  };
  Reader r{package, size};
  if (!r.Has(0, kStringHeaderFixedSize + 1)) {
    return fail("string package shorter than its header");
  }
  if (r.Le(0, 3) != size || r.bytes[3] != EFI_HII_PACKAGE_STRINGS) {
    return fail("string package header does not describe the package");
  }
  uint32_t hdrSize = r.Le(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, HdrSize), sizeof(uint32_t));
  uint32_t infoOffset =
      r.Le(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, StringInfoOffset), sizeof(uint32_t));
  if (hdrSize <= kStringHeaderFixedSize || hdrSize > size) {
    return fail("HdrSize " + std::to_string(hdrSize) + " outside the package");
  }
  const uint8_t *language = package + kStringHeaderFixedSize;
  const void *nul = std::memchr(language, 0, hdrSize - kStringHeaderFixedSize);
  if (nul == nullptr) {
    return fail("language is not NUL-terminated inside the header");
  }
  parsed->language.assign(reinterpret_cast<const char *>(language),
                          static_cast<const uint8_t *>(nul) - language);
  if (parsed->language.empty()) {
    return fail("string package without a language");
  }
  if (infoOffset < hdrSize || infoOffset >= size) {
    return fail("StringInfoOffset " + std::to_string(infoOffset) + " outside the blocks");
  }
  parsed->languageName = static_cast<EFI_STRING_ID>(
      r.Le(OFFSET_OF(EFI_HII_STRING_PACKAGE_HDR, LanguageName), sizeof(EFI_STRING_ID)));
  return BlockParser(r, parsed, problem).Parse(infoOffset);
}

HiiDatabase::HiiDatabase(Firmware &firmware, bool install) : firmware_(firmware) {
  FillWithUnsupported(database_.protocol);
  database_.protocol.NewPackageList = &NewPackageListEntry;
  database_.self = this;
  FillWithUnsupported(string_.protocol);
  string_.protocol.GetString = &GetStringEntry;
  string_.protocol.GetLanguages = &GetLanguagesEntry;
  string_.self = this;
  if (install) {
    Install();
  }
}

HiiDatabase::~HiiDatabase() {
  if (installedOn_ != nullptr) {
    firmware_.UninstallProtocol(installedOn_, gEfiHiiDatabaseProtocolGuid);
    firmware_.UninstallProtocol(installedOn_, gEfiHiiStringProtocolGuid);
  }
}

void HiiDatabase::Install() {
  if (installedOn_ == nullptr) {
    installedOn_ = firmware_.CreateHandle();
    firmware_.InstallProtocol(installedOn_, gEfiHiiDatabaseProtocolGuid, &database_.protocol);
    firmware_.InstallProtocol(installedOn_, gEfiHiiStringProtocolGuid, &string_.protocol);
  }
}

const HiiPackageList *HiiDatabase::FindPackageList(const EFI_GUID &guid) const {
  for (const HiiPackageList &list : lists_) {
    if (GuidsEqual(list.guid, guid)) {
      return &list;
    }
  }
  return nullptr;
}

const HiiPackageList *HiiDatabase::FindPackageList(EFI_HII_HANDLE handle) const {
  for (const HiiPackageList &list : lists_) {
    if (handle != nullptr && list.handle == handle) {
      return &list;
    }
  }
  return nullptr;
}

std::map<EFI_STRING_ID, std::u16string> HiiDatabase::Strings(const HiiPackageList &list,
                                                             const std::string &language) {
  std::map<EFI_STRING_ID, std::u16string> strings;
  for (const HiiStringPackage &package : list.StringPackages()) {
    if (package.language == language) {
      strings.insert(package.strings.begin(), package.strings.end());
    }
  }
  return strings;
}

bool HiiDatabase::ParsePackageList(const EFI_HII_PACKAGE_LIST_HEADER *header,
                                   HiiPackageList *parsed, std::string *problem) const {
  EFI_HII_PACKAGE_LIST_HEADER fixed;
  std::memcpy(&fixed, header, sizeof(fixed));
  if (fixed.PackageLength < kListHeaderSize + kPackageHeaderSize) {
    *problem = "PackageLength " + std::to_string(fixed.PackageLength) + " too small";
    return false;
  }
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(header);
  parsed->bytes.assign(bytes, bytes + fixed.PackageLength);
  parsed->guid = fixed.PackageListGuid;

  // A driver registers the same list every boot: the last list read well is
  // kept, and the same bytes again are not read twice.
  static HiiPackageList lastRead;
  if (lastRead.stringPackages != nullptr && lastRead.bytes == parsed->bytes) {
    parsed->packageTypes = lastRead.packageTypes;
    parsed->stringPackages = lastRead.stringPackages;
    return true;
  }
  auto packages = std::make_shared<std::vector<HiiStringPackage>>();
  Reader r{parsed->bytes.data(), parsed->bytes.size()};
  size_t at = kListHeaderSize;
  for (;;) {
    if (!r.Has(at, kPackageHeaderSize)) {
      *problem = "package list without an end package";
      return false;
    }
    uint32_t length = r.Le(at, 3);
    uint8_t type = r.bytes[at + 3];
    if (length < kPackageHeaderSize || !r.Has(at, length)) {
      *problem = "package at offset " + std::to_string(at) + " runs outside the list";
      return false;
    }
    parsed->packageTypes.push_back(type);
    if (type == EFI_HII_PACKAGE_END) {
      if (length != kPackageHeaderSize || at + length != r.size) {
        *problem = "end package is not the list's last 4 bytes";
        return false;
      }
      parsed->stringPackages = std::move(packages);
      lastRead = *parsed;
      return true;
    }
    if (!KnownPackageType(type)) {
      *problem = "unknown package type " + std::to_string(type);
      return false;
    }
    if (type == EFI_HII_PACKAGE_STRINGS) {
      HiiStringPackage package;
      if (!ParseStringPackage(r.bytes + at, length, &package, problem)) {
        return false;
      }
      packages->push_back(std::move(package));
    }
    at += length;
  }
}

EFI_STATUS HiiDatabase::NewPackageList(const EFI_HII_PACKAGE_LIST_HEADER *packageList,
                                       EFI_HANDLE driverHandle, EFI_HII_HANDLE *handle) {
  auto finish = [&](EFI_STATUS status, const char *detail) -> LogEntry & {
    return firmware_.log.Add("HiiDatabase.NewPackageList", detail).Status(status);
  };
  if (auto fault = firmware_.faults.Check("NewPackageList")) {
    finish(*fault, " (injected) -> {s}");
    return *fault;
  }
  if (packageList == nullptr || handle == nullptr) {
    finish(EFI_INVALID_PARAMETER, " -> {s}");
    return EFI_INVALID_PARAMETER;
  }
  HiiPackageList parsed;
  std::string problem;
  if (!ParsePackageList(packageList, &parsed, &problem)) {
    finish(EFI_INVALID_PARAMETER, " malformed: {t} -> {s}").Text(problem);
    return EFI_INVALID_PARAMETER;
  }
  if (FindPackageList(parsed.guid) != nullptr) {
    finish(EFI_INVALID_PARAMETER, "({g}) GUID already registered -> {s}").Guid(parsed.guid);
    return EFI_INVALID_PARAMETER;
  }
  parsed.driverHandle = driverHandle;
  parsed.handle = firmware_.CreateHandle();
  parsed.languages = LanguageList(parsed);
  *handle = parsed.handle;
  finish(EFI_SUCCESS, "({g}) -> {s}").Guid(parsed.guid);
  lists_.push_back(std::move(parsed));
  return EFI_SUCCESS;
}

std::string HiiDatabase::LanguageList(const HiiPackageList &list) const {
  std::string languages;
  std::vector<std::string> seen;
  for (const HiiStringPackage &package : list.StringPackages()) {
    bool repeated = false;
    for (const std::string &earlier : seen) {
      repeated = repeated || earlier == package.language;
    }
    if (!repeated) {
      languages += (languages.empty() ? "" : ";") + package.language;
      seen.push_back(package.language);
    }
  }
  return languages;
}

EFI_STATUS HiiDatabase::GetLanguages(EFI_HII_HANDLE packageList, CHAR8 *languages,
                                     UINTN *languagesSize) {
  auto finish = [&](EFI_STATUS status, const char *detail) -> LogEntry & {
    return firmware_.log.Add("HiiString.GetLanguages", detail).Status(status);
  };
  if (auto fault = firmware_.faults.Check("GetLanguages")) {
    finish(*fault, " (injected) -> {s}");
    return *fault;
  }
  if (languagesSize == nullptr || (*languagesSize != 0 && languages == nullptr)) {
    finish(EFI_INVALID_PARAMETER, " -> {s}");
    return EFI_INVALID_PARAMETER;
  }
  const HiiPackageList *list = FindPackageList(packageList);
  if (list == nullptr) {
    finish(EFI_NOT_FOUND, " unknown handle -> {s}");
    return EFI_NOT_FOUND;
  }
  const std::string &text = list->languages;
  if (text.empty()) {
    finish(EFI_NOT_FOUND, " no string package -> {s}");
    return EFI_NOT_FOUND;
  }
  UINTN needed = text.size() + 1;
  if (*languagesSize < needed) {
    *languagesSize = needed;
    finish(EFI_BUFFER_TOO_SMALL, " -> {s}");
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(languages, text.c_str(), needed);
  *languagesSize = needed;
  finish(EFI_SUCCESS, " {t} -> {s}").Text(text);
  return EFI_SUCCESS;
}

EFI_STATUS HiiDatabase::GetString(const CHAR8 *language, EFI_HII_HANDLE packageList,
                                  EFI_STRING_ID stringId, EFI_STRING string, UINTN *stringSize,
                                  EFI_FONT_INFO **stringFontInfo) {
  // "HiiString.GetString(id=4, en-US) -> <status>", the language copied now:
  // the driver's buffer may be gone by the time the log is read.
  const char *form = "(id={d}, {t}) -> {s}";
  auto finish = [&](EFI_STATUS status) {
    firmware_.log.Add("HiiString.GetString", form).Value(stringId).Text(Quoted(language)).Status(
        status);
    return status;
  };
  if (auto fault = firmware_.faults.Check("GetString")) {
    form = "(id={d}, {t}) (injected) -> {s}";
    return finish(*fault);
  }
  if (language == nullptr || stringSize == nullptr ||
      (*stringSize != 0 && string == nullptr)) {
    return finish(EFI_INVALID_PARAMETER);
  }
  const HiiPackageList *list = FindPackageList(packageList);
  if (list == nullptr) {
    return finish(EFI_NOT_FOUND);
  }
  const std::u16string *text = nullptr;
  bool languagePresent = false;
  bool idInAnyLanguage = false;
  for (const HiiStringPackage &package : list->StringPackages()) {
    auto found = package.strings.find(stringId);
    idInAnyLanguage = idInAnyLanguage || found != package.strings.end();
    if (package.language == language) {
      languagePresent = true;
      if (text == nullptr && found != package.strings.end()) {
        text = &found->second;
      }
    }
  }
  if (text == nullptr) {
    // Only a string that exists in another language is a wrong-language answer.
    return finish(!languagePresent && idInAnyLanguage ? EFI_INVALID_LANGUAGE : EFI_NOT_FOUND);
  }
  UINTN needed = (text->size() + 1) * sizeof(CHAR16);
  if (*stringSize < needed) {
    *stringSize = needed;
    return finish(EFI_BUFFER_TOO_SMALL);
  }
  std::memcpy(string, text->c_str(), needed);
  *stringSize = needed;
  if (stringFontInfo != nullptr) {
    *stringFontInfo = nullptr;  // no font information is kept
  }
  return finish(EFI_SUCCESS);
}

}  // namespace sim
