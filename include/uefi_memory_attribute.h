// Memory attribute protocol (UEFI 2.10, 7.6): the firmware's page attributes,
// read by test firmware to see how an image's pages are protected.
#pragma once

#include "uefi_base.h"

// Attribute bits of a memory range (UEFI 2.10, 7.2, EFI_MEMORY_DESCRIPTOR).
inline constexpr UINT64 EFI_MEMORY_RP = 0x0000000000002000;  // read-protected
inline constexpr UINT64 EFI_MEMORY_XP = 0x0000000000004000;  // not executable
inline constexpr UINT64 EFI_MEMORY_RO = 0x0000000000020000;  // read-only

struct EFI_MEMORY_ATTRIBUTE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_ATTRIBUTES)(EFI_MEMORY_ATTRIBUTE_PROTOCOL *This,
                                                      EFI_PHYSICAL_ADDRESS BaseAddress,
                                                      UINT64 Length, UINT64 *Attributes);
typedef EFI_STATUS(EFIAPI *EFI_SET_MEMORY_ATTRIBUTES)(EFI_MEMORY_ATTRIBUTE_PROTOCOL *This,
                                                      EFI_PHYSICAL_ADDRESS BaseAddress,
                                                      UINT64 Length, UINT64 Attributes);

// EFI_MEMORY_ATTRIBUTE_PROTOCOL: one instance, installed by firmware that maps
// memory with page attributes (EDK2 2023 and later).
struct EFI_MEMORY_ATTRIBUTE_PROTOCOL {
  EFI_GET_MEMORY_ATTRIBUTES GetMemoryAttributes;
  EFI_SET_MEMORY_ATTRIBUTES SetMemoryAttributes;
  EFI_SET_MEMORY_ATTRIBUTES ClearMemoryAttributes;
};
static_assert(sizeof(EFI_MEMORY_ATTRIBUTE_PROTOCOL) == 24);
static_assert(OFFSET_OF(EFI_MEMORY_ATTRIBUTE_PROTOCOL, ClearMemoryAttributes) == 16);

inline constexpr EFI_GUID EFI_MEMORY_ATTRIBUTE_PROTOCOL_GUID = {
    0xF4560CF6, 0x40EC, 0x4B4A, {0xA1, 0x92, 0xBF, 0x1D, 0x57, 0xD0, 0xB1, 0x89}};
