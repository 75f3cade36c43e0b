// Basic UEFI data types and status codes (UEFI 2.10, 2.3.1 and Appendix D).
//
// Built from compiler-provided type macros only, so the same header serves the
// freestanding image and the host build without any C library header.
#pragma once

#if defined(SLOT_INVENTORY_EDK2)
// Built as an EDK2 module: MdePkg declares the base types, status codes,
// EFIAPI and OFFSET_OF, and the module's AutoGen.h has already included them.
#include <Uefi.h>
#else

typedef __UINT8_TYPE__ UINT8;
typedef __UINT16_TYPE__ UINT16;
typedef __UINT32_TYPE__ UINT32;
typedef __UINT64_TYPE__ UINT64;
typedef __INT8_TYPE__ INT8;
typedef __INT16_TYPE__ INT16;
typedef __INT32_TYPE__ INT32;
typedef __INT64_TYPE__ INT64;
typedef __UINTPTR_TYPE__ UINTN;
typedef __INTPTR_TYPE__ INTN;
typedef UINT8 BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

static_assert(sizeof(UINTN) == 8, "the driver targets x64 only");
static_assert(sizeof(CHAR16) == 2);

// Every firmware entry point uses the Microsoft x64 convention, on the host too,
// so the simulator's tables are called exactly as real firmware's are.
#define EFIAPI __attribute__((ms_abi))

#define OFFSET_OF(Type, Member) __builtin_offsetof(Type, Member)

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINT64 EFI_PHYSICAL_ADDRESS;

// EFI_GUID (UEFI 2.10, 2.3.1): 128 bits, 64-bit aligned in memory.
struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);
static_assert(OFFSET_OF(EFI_GUID, Data4) == 8);

inline constexpr EFI_STATUS EFI_ERROR_BIT = 0x8000000000000000ULL;

constexpr EFI_STATUS EncodeError(UINTN code) { return EFI_ERROR_BIT | code; }

constexpr bool EFI_ERROR(EFI_STATUS status) { return (status & EFI_ERROR_BIT) != 0; }

inline constexpr EFI_STATUS EFI_SUCCESS = 0;
inline constexpr EFI_STATUS EFI_LOAD_ERROR = EncodeError(1);
inline constexpr EFI_STATUS EFI_INVALID_PARAMETER = EncodeError(2);
inline constexpr EFI_STATUS EFI_UNSUPPORTED = EncodeError(3);
inline constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EncodeError(4);
inline constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EncodeError(5);
inline constexpr EFI_STATUS EFI_NOT_READY = EncodeError(6);
inline constexpr EFI_STATUS EFI_DEVICE_ERROR = EncodeError(7);
inline constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EncodeError(9);
inline constexpr EFI_STATUS EFI_NOT_FOUND = EncodeError(14);
inline constexpr EFI_STATUS EFI_ACCESS_DENIED = EncodeError(15);
// StartImage was never reached.
inline constexpr EFI_STATUS EFI_NOT_STARTED = EncodeError(19);
inline constexpr EFI_STATUS EFI_ALREADY_STARTED = EncodeError(20);
inline constexpr EFI_STATUS EFI_INVALID_LANGUAGE = EncodeError(32);

// EFI_MEMORY_TYPE values used for pool allocations.
enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType = 0,
  EfiLoaderCode = 1,
  EfiLoaderData = 2,
  EfiBootServicesCode = 3,
  EfiBootServicesData = 4,
  EfiRuntimeServicesCode = 5,
  EfiRuntimeServicesData = 6,
  EfiMaxMemoryType = 16,
};
static_assert(sizeof(EFI_MEMORY_TYPE) == 4);
#endif  // SLOT_INVENTORY_EDK2

constexpr bool GuidsEqual(const EFI_GUID &a, const EFI_GUID &b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
    return false;
  }
  for (UINTN i = 0; i < 8; i++) {
    if (a.Data4[i] != b.Data4[i]) {
      return false;
    }
  }
  return true;
}
