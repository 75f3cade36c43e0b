#include "memory.h"

#include "firmware_services.h"

// Zero fills of record buffers are most of the driver's own work: a word at a
// time. Copies are short strings and records: a byte at a time, the smallest code.
VOID *ZeroBuffer(VOID *Buffer, UINTN Length) {
  UINT8 *bytes = static_cast<UINT8 *>(Buffer);
  UINTN i = 0;
  for (const UINT64 zero = 0; i + sizeof(zero) <= Length; i += sizeof(zero)) {
    __builtin_memcpy(bytes + i, &zero, sizeof(zero));
  }
  for (; i < Length; i++) {
    bytes[i] = 0;
  }
  return Buffer;
}

VOID *MoveBuffer(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *destination = static_cast<UINT8 *>(Destination);
  const UINT8 *source = static_cast<const UINT8 *>(Source);
  if (reinterpret_cast<UINTN>(destination) <= reinterpret_cast<UINTN>(source)) {
    for (UINTN i = 0; i < Length; i++) {
      destination[i] = source[i];
    }
  } else {
    // The destination may start inside the source: copy from the end backwards.
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
  if (buffer != nullptr) {
    ZeroBuffer(buffer, Size);
  }
  return buffer;
}

// Out of line on purpose: each of the many releases is then one short call
// rather than a load of the services table and an indirect call.
__attribute__((noinline)) void FreeBuffer(VOID *Buffer) { gBootServices->FreePool(Buffer); }
