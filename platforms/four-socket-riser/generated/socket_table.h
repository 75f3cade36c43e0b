// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// Where each socket's bus-number word lives: bus, device and function of its
// configuration space, and the word's offset there. Byte k of the word is the
// bus of root-port group k.
#pragma once

#include "hw/pci_config.h"
#include "platform_layout.h"

constexpr SocketBusNumbersLocation SOCKET_BUS_NUMBERS[SOCKET_COUNT] = {
    {0x00, 4, 0, 0x40},  // socket 0
    {0x00, 4, 1, 0x50},  // socket 1
    {0x00, 4, 2, 0x60},  // socket 2
    {0x00, 4, 3, 0x70},  // socket 3
};
