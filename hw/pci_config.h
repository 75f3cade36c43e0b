// PCI configuration space, reached through the address the platform's
// register-access protocol gives for a function.
#pragma once

#include "../include/register_access.h"

// Register offsets in a function's configuration space.
inline constexpr UINTN PCI_VENDOR_DEVICE_ID_OFFSET = 0x00;
inline constexpr UINTN PCI_SECONDARY_BUS_OFFSET = 0x19;
inline constexpr UINTN SOCKET_BUS_NUMBERS_OFFSET = 0xCC;

// What a read of a function that does not answer returns.
inline constexpr UINT32 PCI_ABSENT_WORD = 0xFFFFFFFF;
inline constexpr UINT8 PCI_ABSENT_BYTE = 0xFF;

// The socket bus-number word lives in device 8, function 2 of the socket's
// first bus.
inline constexpr UINT32 SOCKET0_BUS = 0x00;
inline constexpr UINT32 SOCKET1_BUS = 0x80;
inline constexpr UINT32 SOCKET_BUS_NUMBERS_DEVICE = 8;
inline constexpr UINT32 SOCKET_BUS_NUMBERS_FUNCTION = 2;

// Bus taken modulo 256, device modulo 32, function modulo 8.
PciConfigAddressDescriptor BuildPciConfigAddressDescriptor(UINT32 Bus, UINT32 Device,
                                                           UINT32 Function);

// Address of the function's configuration space as the platform gives it;
// 0 when the platform has no register-access protocol or gives no address.
UINTN LocatePciConfigSpace(UINT32 Bus, UINT32 Device, UINT32 Function);

// Byte k is the bus of root-port group k of the socket (0 or 1). Read afresh
// on every call; all ones when it cannot be read.
UINT32 ReadSocketBusNumbers(UINT32 Socket);

// Byte K (0 to 3) of the socket bus-number word, unchecked.
UINT8 RootPortBus(UINT32 Socket, UINT32 K);

// True when the function's vendor and device id word is not all ones.
bool IsFunctionPresent(UINT32 Bus, UINT32 Device, UINT32 Function);

// Secondary Bus Number of the bridge at (Bus, Device, function 0).
UINT8 SecondaryBus(UINT32 Bus, UINT32 Device);

// True when device 0, function 0 answers on the bus behind the root port.
bool IsDevicePresentBehind(UINT32 Bus, UINT32 Device);
