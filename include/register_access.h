// The platform's register-access protocol: maps a PCI function to the address
// of its configuration space.
#pragma once

#include "uefi_base.h"

// Request handed to the address member: word 0 names bus, device and function
// the way a PCI Express configuration address does (register offset bits zero).
struct PciConfigAddressDescriptor {
  UINT32 Word[4];
};
static_assert(sizeof(PciConfigAddressDescriptor) == 16);

inline constexpr UINT32 PCI_DESCRIPTOR_BUS_SHIFT = 20;
inline constexpr UINT32 PCI_DESCRIPTOR_DEVICE_SHIFT = 15;
inline constexpr UINT32 PCI_DESCRIPTOR_FUNCTION_SHIFT = 12;
inline constexpr UINT32 PCI_DESCRIPTOR_WORD2 = 0x200;

typedef UINTN(EFIAPI *REGISTER_ACCESS_CONFIG_ADDRESS)(const PciConfigAddressDescriptor *Descriptor);

// Only the fourth member is specified for this board; the first three belong
// to the platform and are never called by the driver.
struct RegisterAccessProtocol {
  VOID *PlatformMember0;
  VOID *PlatformMember1;
  VOID *PlatformMember2;
  REGISTER_ACCESS_CONFIG_ADDRESS ConfigSpaceAddress;
};
static_assert(sizeof(RegisterAccessProtocol) == 32);
static_assert(OFFSET_OF(RegisterAccessProtocol, ConfigSpaceAddress) == 24);
