// Fetching the driver's strings in the language that best fits the platform's.
#pragma once

#include "../include/uefi_hii.h"

// String StringId of the driver's registered package list, in the language
// of that list that best matches PlatformLang (falling back to the list's
// first language). A new pool buffer holding the UCS-2 string with its NUL,
// which the caller releases with FreePool; null when there is no string.
CHAR16 *LookupDriverString(EFI_STRING_ID StringId);

// The ';'-separated languages of a package list, NUL-terminated, in a new
// pool buffer the caller frees; null when the HII database gives none.
CHAR8 *GetSupportedLanguageList(EFI_HII_HANDLE Handle);

// Reads the PlatformLang global variable into a new pool buffer (*Value) that
// the caller frees. The buffer holds the stored bytes followed by a NUL, so a
// value stored without one still ends where its bytes end. On failure *Value
// is null and the status says why (EFI_NOT_FOUND when it does not exist).
EFI_STATUS ReadPlatformLanguage(CHAR8 **Value);

// RFC 4646 prefix matching: the candidates in order, each by its first code
// (up to ';' or NUL) and then its shorter prefixes cut at '-', against every
// code of Supported in order. Returns the first matching code of Supported
// in a new pool buffer the caller frees, or null. Comparison is case-sensitive.
CHAR8 *PickBestLanguage(const CHAR8 *Supported, const CHAR8 *const *Candidates,
                        UINTN CandidateCount);
