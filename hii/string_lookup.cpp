#include "string_lookup.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../base/strings.h"
#include "../include/guids.h"
#include "string_registration.h"

namespace {

constexpr char16_t PLATFORM_LANG_NAME[] = u"PlatformLang";
constexpr CHAR8 CODE_SEPARATOR = ';';
constexpr CHAR8 SUBTAG_SEPARATOR = '-';
constexpr UINTN LARGEST_SIZE = ~static_cast<UINTN>(0);

bool EndsCode(CHAR8 Character) { return Character == '\0' || Character == CODE_SEPARATOR; }

UINTN CodeLength(const CHAR8 *Code) {
  UINTN length = 0;
  while (!EndsCode(Code[length])) {
    length++;
  }
  return length;
}

// The first code of Supported that begins with the first PrefixLength
// characters of Candidate, or null.
const CHAR8 *FindSupportedCode(const CHAR8 *Supported, const CHAR8 *Candidate,
                               UINTN PrefixLength, UINTN *FoundLength) {
  const CHAR8 *at = Supported;
  while (*at != '\0') {
    while (*at == CODE_SEPARATOR) {
      at++;
    }
    UINTN length = CodeLength(at);
    if (length >= PrefixLength && AsciiCompareN(at, Candidate, PrefixLength) == 0) {
      *FoundLength = length;
      return at;
    }
    at += length;
  }
  return nullptr;
}

// The prefix length before the last '-' among positions 1 to Length - 1, so
// that a candidate is never cut back to nothing; 0 when there is none.
UINTN ShortenToSubtag(const CHAR8 *Candidate, UINTN Length) {
  for (UINTN position = Length - 1; position >= 1; position--) {
    if (Candidate[position] == SUBTAG_SEPARATOR) {
      return position;
    }
  }
  return 0;
}

CHAR8 *CopyLanguageCode(const CHAR8 *Code, UINTN Length) {
  CHAR8 *copy = static_cast<CHAR8 *>(AllocateZeroedBuffer(Length + 1));
  if (copy != nullptr) {
    MoveBuffer(copy, Code, Length);
  }
  return copy;
}

// String Id of the registered package list in Language, sized by asking first.
CHAR16 *FetchString(const CHAR8 *Language, EFI_STRING_ID StringId) {
  CHAR16 probe[1] = {};
  UINTN size = 0;
  EFI_STATUS status =
      gHiiString->GetString(gHiiString, Language, gHiiHandle, StringId, probe, &size, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return nullptr;
  }
  CHAR16 *text = static_cast<CHAR16 *>(AllocateZeroedBuffer(size));
  if (text == nullptr) {
    return nullptr;
  }
  status = gHiiString->GetString(gHiiString, Language, gHiiHandle, StringId, text, &size, nullptr);
  if (EFI_ERROR(status)) {
    FreeBuffer(text);
    return nullptr;
  }
  return text;
}

}  // namespace

CHAR16 *LookupDriverString(EFI_STRING_ID StringId) {
  if (gHiiString == nullptr) {
    return nullptr;
  }
  CHAR8 *languages = GetSupportedLanguageList(gHiiHandle);
  if (languages == nullptr) {
    return nullptr;
  }
  CHAR8 *platformLanguage = nullptr;
  ReadPlatformLanguage(&platformLanguage);

  // A missing platform language is skipped; the list itself is the fallback.
  const CHAR8 *candidates[] = {platformLanguage, languages};
  CHAR8 *best =
      PickBestLanguage(languages, candidates, sizeof(candidates) / sizeof(candidates[0]));
  CHAR16 *text = best != nullptr ? FetchString(best, StringId) : nullptr;

  FreeBuffer(languages);
  if (platformLanguage != nullptr) {
    FreeBuffer(platformLanguage);
  }
  if (best != nullptr) {
    FreeBuffer(best);
  }
  return text;
}

CHAR8 *GetSupportedLanguageList(EFI_HII_HANDLE Handle) {
  if (gHiiString == nullptr) {
    return nullptr;
  }
  CHAR8 probe[1] = {};
  UINTN size = 0;
  EFI_STATUS status = gHiiString->GetLanguages(gHiiString, Handle, probe, &size);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return nullptr;
  }
  // One byte more than asked for stays NUL, so the selection never reads past
  // a list that the firmware handed back without its terminator.
  CHAR8 *languages = static_cast<CHAR8 *>(AllocateZeroedBuffer(size + 1));
  if (languages == nullptr) {
    return nullptr;
  }
  status = gHiiString->GetLanguages(gHiiString, Handle, languages, &size);
  if (EFI_ERROR(status)) {
    FreeBuffer(languages);
    return nullptr;
  }
  return languages;
}

EFI_STATUS ReadPlatformLanguage(CHAR8 **Value) {
  if (Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Value = nullptr;
  UINTN size = 0;
  EFI_STATUS status = gRuntimeServices->GetVariable(
      ServiceText(PLATFORM_LANG_NAME), ServiceGuid(gEfiGlobalVariableGuid), nullptr, &size, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return status;
  }
  // One byte more than stored, for the NUL the selection reads up to.
  if (size == LARGEST_SIZE) {
    return EFI_OUT_OF_RESOURCES;
  }
  CHAR8 *value = static_cast<CHAR8 *>(AllocateBuffer(size + 1));
  if (value == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN stored = size;
  status = gRuntimeServices->GetVariable(ServiceText(PLATFORM_LANG_NAME),
                                         ServiceGuid(gEfiGlobalVariableGuid), nullptr, &stored, value);
  if (EFI_ERROR(status)) {
    FreeBuffer(value);
    return status;
  }
  value[stored < size ? stored : size] = '\0';
  *Value = value;
  return status;
}

CHAR8 *PickBestLanguage(const CHAR8 *Supported, const CHAR8 *const *Candidates,
                        UINTN CandidateCount) {
  if (Supported == nullptr || Candidates == nullptr) {
    return nullptr;
  }
  for (UINTN i = 0; i < CandidateCount; i++) {
    const CHAR8 *candidate = Candidates[i];
    if (candidate == nullptr) {
      continue;
    }
    UINTN length = CodeLength(candidate);
    while (length > 0) {
      UINTN foundLength = 0;
      const CHAR8 *code = FindSupportedCode(Supported, candidate, length, &foundLength);
      if (code != nullptr) {
        // An allocation failure here ends the selection; later candidates are not tried.
        return CopyLanguageCode(code, foundLength);
      }
      length = ShortenToSubtag(candidate, length);
    }
  }
  return nullptr;
}
