#include "strings.h"

INTN AsciiCompareN(const CHAR8 *First, const CHAR8 *Second, UINTN Count) {
  if (Count == 0) {
    return 0;
  }
  UINTN position = 0;
  while (First[position] != '\0' && Second[position] != '\0' &&
         First[position] == Second[position] && position < Count - 1) {
    position++;
  }
  return static_cast<INTN>(static_cast<INT8>(First[position])) -
         static_cast<INTN>(static_cast<INT8>(Second[position]));
}

UINTN WideStrLengthBounded(const CHAR16 *String, UINTN Maximum) {
  if (String == nullptr) {
    return 0;
  }
  UINTN length = 0;
  while (length < Maximum && String[length] != 0) {
    length++;
  }
  return length;
}

UINTN AsciiStrLengthBounded(const CHAR8 *String, UINTN Maximum) {
  if (String == nullptr) {
    return 0;
  }
  UINTN length = 0;
  while (length < Maximum && String[length] != '\0') {
    length++;
  }
  return length;
}

bool AddressWithin(UINTN Address, UINTN Start, UINTN Size) {
  return Address >= Start && Address - Start < Size;
}

EFI_STATUS WideToAsciiCopy(const CHAR16 *Source, CHAR8 *Destination, UINTN Size) {
  if (Destination == nullptr || Source == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Size > MAX_STRING_LENGTH_LIMIT || Size == 0) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN length = WideStrLengthBounded(Source, Size);
  if (length >= Size) {
    return EFI_BUFFER_TOO_SMALL;
  }
  UINTN sourceAddress = reinterpret_cast<UINTN>(Source);
  UINTN destinationAddress = reinterpret_cast<UINTN>(Destination);
  UINTN sourceBytes = (length + 1) * sizeof(CHAR16);
  if (AddressWithin(destinationAddress, sourceAddress, sourceBytes) ||
      AddressWithin(sourceAddress, destinationAddress, Size)) {
    return EFI_ACCESS_DENIED;
  }
  for (UINTN i = 0; i < length; i++) {
    Destination[i] = static_cast<CHAR8>(Source[i] & 0xFF);
  }
  Destination[length] = '\0';
  return EFI_SUCCESS;
}
