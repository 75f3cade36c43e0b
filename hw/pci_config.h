// PCI configuration space, reached through the address the platform's
// register-access protocol gives for a function.
#pragma once

#include "../include/register_access.h"

// Register offsets in a function's configuration space.
inline constexpr UINTN PCI_VENDOR_DEVICE_ID_OFFSET = 0x00;
inline constexpr UINTN PCI_SECONDARY_BUS_OFFSET = 0x19;

// What a read of a function that does not answer returns.
inline constexpr UINT32 PCI_ABSENT_WORD = 0xFFFFFFFF;
inline constexpr UINT8 PCI_ABSENT_BYTE = 0xFF;

// Where a socket's bus-number word lives: a function's configuration space
// and the word's offset in it. The platform's table of them
// (socket_table.h) is indexed by socket.
struct SocketBusNumbersLocation {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
  UINT8 Offset;  // in the first 256 bytes, where every function's space has room
};
static_assert(sizeof(SocketBusNumbersLocation) == 4);

// Bus taken modulo 256, device modulo 32, function modulo 8.
PciConfigAddressDescriptor BuildPciConfigAddressDescriptor(UINT32 Bus, UINT32 Device,
                                                           UINT32 Function);

// Address of the function's configuration space as the platform gives it;
// 0 when the platform has no register-access protocol or gives no address.
UINTN LocatePciConfigSpace(UINT32 Bus, UINT32 Device, UINT32 Function);

// Byte k is the bus of root-port group k of the socket (taken modulo the
// platform's socket count). Read afresh on every call; all ones when it
// cannot be read.
UINT32 ReadSocketBusNumbers(UINT32 Socket);

// Byte K (0 to 3) of the socket bus-number word, unchecked.
UINT8 RootPortBus(UINT32 Socket, UINT32 K);

// True when the function's vendor and device id word is not all ones.
bool IsFunctionPresent(UINT32 Bus, UINT32 Device, UINT32 Function);

// Secondary Bus Number of the bridge at (Bus, Device, function 0).
UINT8 SecondaryBus(UINT32 Bus, UINT32 Device);

// True when device 0, function 0 answers on the bus behind the root port.
bool IsDevicePresentBehind(UINT32 Bus, UINT32 Device);
