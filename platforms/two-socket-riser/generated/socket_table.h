// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// Where each socket's bus-number word lives: bus, device and function of its
// configuration space, and the word's offset there. Byte k of the word is the
// bus of root-port group k.
#pragma once

#include "hw/pci_config.h"
#include "platform_layout.h"

constexpr SocketBusNumbersLocation SOCKET_BUS_NUMBERS[SOCKET_COUNT] = {
    {0x00, 8, 2, 0xCC},  // socket 0
    {0x80, 8, 2, 0xCC},  // socket 1
};
