// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The onboard devices by device index: string id, Device Type, location,
// bus or socket, group, bridge device, probe function, Device/Function, instance.
#pragma once

#include "inventory/onboard_devices.h"

constexpr OnboardDevice ONBOARD_DEVICES[ONBOARD_DEVICE_COUNT] = {
    // "Onboard video" (video 1): 00:01.0; probe function 0
    {7, 0x03, DeviceLocation::OnFixedBus, 0x00, 0, 0, 0, 0x08, 1},
    // "Onboard SATA" (sata 1): 00:1F.2; probe function 2
    {8, 0x09, DeviceLocation::OnFixedBus, 0x00, 0, 0, 2, 0xFA, 1},
    // "Onboard LAN" (ethernet 1): 00.0 behind root port 01 of socket 0, group 2; probe function 0
    {9, 0x05, DeviceLocation::BehindRootPort, 0x00, 2, 1, 0, 0x00, 1},
};
