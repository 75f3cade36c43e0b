// Bounded string length, comparison and UCS-2 to ASCII conversion.
#pragma once

#include "../include/uefi_base.h"

// The largest destination size, in characters, that a guarded copy accepts.
inline constexpr UINTN MAX_STRING_LENGTH_LIMIT = 1000000;

// Compares at most Count characters; 0 when they agree up to the stop
// position. Bytes compare as signed 8-bit values.
INTN AsciiCompareN(const CHAR8 *First, const CHAR8 *Second, UINTN Count);

// Length before the first NUL among the first Maximum characters, or Maximum.
// A null string measures 0. Nothing beyond Maximum characters is read.
UINTN WideStrLengthBounded(const CHAR16 *String, UINTN Maximum);
UINTN AsciiStrLengthBounded(const CHAR8 *String, UINTN Maximum);

// True when Address lies in [Start, Start + Size): the overlap test of the guarded copies.
bool AddressWithin(UINTN Address, UINTN Start, UINTN Size);

// Copies a NUL-terminated UCS-2 string into Size bytes of ASCII, keeping the
// low byte of each character. Nothing is written when it fails.
EFI_STATUS WideToAsciiCopy(const CHAR16 *Source, CHAR8 *Destination, UINTN Size);
