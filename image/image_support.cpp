// What the compiler expects of a runtime library, for the freestanding image.
//
// clang emits calls to memset and memcpy for structure copies and zeroing even
// when freestanding. These versions store through volatile pointers so the
// optimiser cannot recognise the loops as memset/memcpy and call themselves.
#include "include/uefi_base.h"

extern "C" {

void *memset(void *destination, int value, UINTN length) {
  volatile UINT8 *bytes = static_cast<volatile UINT8 *>(destination);
  for (UINTN i = 0; i < length; i++) {
    bytes[i] = static_cast<UINT8>(value);
  }
  return destination;
}

void *memcpy(void *destination, const void *source, UINTN length) {
  volatile UINT8 *to = static_cast<volatile UINT8 *>(destination);
  const volatile UINT8 *from = static_cast<const volatile UINT8 *>(source);
  for (UINTN i = 0; i < length; i++) {
    to[i] = from[i];
  }
  return destination;
}

}  // extern "C"
