#include "pci_config.h"

#include "../base/firmware_services.h"
// SOCKET_BUS_NUMBERS, the platform's sockets.
#include "socket_table.h"

namespace {

constexpr UINT32 BUS_MASK = 0xFF;
constexpr UINT32 DEVICE_MASK = 0x1F;
constexpr UINT32 FUNCTION_MASK = 0x7;
constexpr UINT32 BITS_PER_BYTE = 8;
constexpr UINT32 BYTES_PER_WORD = 4;

// A missing protocol or address reads like a function that does not answer,
// so nothing is ever loaded from address 0.
UINT32 ReadConfig32(UINTN Base, UINTN Offset) {
  if (Base == 0) {
    return PCI_ABSENT_WORD;
  }
  return *reinterpret_cast<const volatile UINT32 *>(Base + Offset);
}

UINT8 ReadConfig8(UINTN Base, UINTN Offset) {
  if (Base == 0) {
    return PCI_ABSENT_BYTE;
  }
  return *reinterpret_cast<const volatile UINT8 *>(Base + Offset);
}

}  // namespace

PciConfigAddressDescriptor BuildPciConfigAddressDescriptor(UINT32 Bus, UINT32 Device,
                                                           UINT32 Function) {
  PciConfigAddressDescriptor descriptor;
  descriptor.Word[0] = ((Bus & BUS_MASK) << PCI_DESCRIPTOR_BUS_SHIFT) |
                       ((Device & DEVICE_MASK) << PCI_DESCRIPTOR_DEVICE_SHIFT) |
                       ((Function & FUNCTION_MASK) << PCI_DESCRIPTOR_FUNCTION_SHIFT);
  descriptor.Word[1] = 0;
  descriptor.Word[2] = PCI_DESCRIPTOR_WORD2;
  descriptor.Word[3] = 0;
  return descriptor;
}

UINTN LocatePciConfigSpace(UINT32 Bus, UINT32 Device, UINT32 Function) {
  if (gRegisterAccess == nullptr || gRegisterAccess->ConfigSpaceAddress == nullptr) {
    return 0;
  }
  PciConfigAddressDescriptor descriptor = BuildPciConfigAddressDescriptor(Bus, Device, Function);
  return gRegisterAccess->ConfigSpaceAddress(&descriptor);
}

UINT32 ReadSocketBusNumbers(UINT32 Socket) {
  const SocketBusNumbersLocation &word = SOCKET_BUS_NUMBERS[Socket % SOCKET_COUNT];
  UINTN base = LocatePciConfigSpace(word.Bus, word.Device, word.Function);
  return ReadConfig32(base, word.Offset);
}

UINT8 RootPortBus(UINT32 Socket, UINT32 K) {
  UINT32 shift = (K % BYTES_PER_WORD) * BITS_PER_BYTE;
  return static_cast<UINT8>((ReadSocketBusNumbers(Socket) >> shift) & BUS_MASK);
}

bool IsFunctionPresent(UINT32 Bus, UINT32 Device, UINT32 Function) {
  UINTN base = LocatePciConfigSpace(Bus, Device, Function);
  return ReadConfig32(base, PCI_VENDOR_DEVICE_ID_OFFSET) != PCI_ABSENT_WORD;
}

UINT8 SecondaryBus(UINT32 Bus, UINT32 Device) {
  return ReadConfig8(LocatePciConfigSpace(Bus, Device, 0), PCI_SECONDARY_BUS_OFFSET);
}

bool IsDevicePresentBehind(UINT32 Bus, UINT32 Device) {
  return IsFunctionPresent(SecondaryBus(Bus, Device), 0, 0);
}
