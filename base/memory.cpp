#include "memory.h"

#include "firmware_services.h"

namespace {

// Word moves go through memcpy-free loads and stores so that the compiler
// cannot turn the loops back into calls to the routines being defined.
inline UINT64 LoadWord(const UINT8 *at) {
  UINT64 value;
  __builtin_memcpy(&value, at, sizeof(value));
  return value;
}

inline void StoreWord(UINT8 *at, UINT64 value) { __builtin_memcpy(at, &value, sizeof(value)); }

}  // namespace

VOID *ZeroBuffer(VOID *Buffer, UINTN Length) {
  UINT8 *bytes = static_cast<UINT8 *>(Buffer);
  UINTN words = Length / sizeof(UINT64);
  for (UINTN i = 0; i < words; i++) {
    StoreWord(bytes + i * sizeof(UINT64), 0);
  }
  for (UINTN i = words * sizeof(UINT64); i < Length; i++) {
    bytes[i] = 0;
  }
  return Buffer;
}

VOID *MoveBuffer(VOID *Destination, const VOID *Source, UINTN Length) {
  if (Length == 0) {
    return Destination;
  }
  UINT8 *destination = static_cast<UINT8 *>(Destination);
  const UINT8 *source = static_cast<const UINT8 *>(Source);
  UINTN destinationAddress = reinterpret_cast<UINTN>(destination);
  UINTN sourceAddress = reinterpret_cast<UINTN>(source);

  bool forwardIsSafe =
      sourceAddress >= destinationAddress || sourceAddress + Length - 1 < destinationAddress;
  if (forwardIsSafe) {
    UINTN words = Length / sizeof(UINT64);
    for (UINTN i = 0; i < words; i++) {
      StoreWord(destination + i * sizeof(UINT64), LoadWord(source + i * sizeof(UINT64)));
    }
    for (UINTN i = words * sizeof(UINT64); i < Length; i++) {
      destination[i] = source[i];
    }
  } else {
    // The destination starts inside the source: copy from the end backwards.
    for (UINTN i = Length; i > 0; i--) {
      destination[i - 1] = source[i - 1];
    }
  }
  return Destination;
}

VOID *AllocateBuffer(UINTN Size) {
  VOID *buffer = nullptr;
  EFI_STATUS status = gBootServices->AllocatePool(EfiBootServicesData, Size, &buffer);
  if (EFI_ERROR(status)) {
    return nullptr;
  }
  return buffer;
}

VOID *AllocateZeroedBuffer(UINTN Size) {
  VOID *buffer = AllocateBuffer(Size);
  if (buffer != nullptr && Size != 0) {
    ZeroBuffer(buffer, Size);
  }
  return buffer;
}
