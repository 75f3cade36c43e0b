// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The onboard devices by device index: string id, Device Type, location,
// bus or socket, group, bridge device, probe function, Device/Function, instance.
#pragma once

#include "inventory/onboard_devices.h"

constexpr OnboardDevice ONBOARD_DEVICES[ONBOARD_DEVICE_COUNT] = {
    // "Aspeed Video" (video 0): 00.0 behind bridge 02:00; probe function 0
    {12, 0x03, DeviceLocation::BehindFixedBridge, 0x02, 0, 0, 0, 0x00, 0},
    // "Intel I350" (ethernet 1): 00.0 behind root port 01 of socket 0, group 2; probe function 0
    {13, 0x05, DeviceLocation::BehindRootPort, 0x00, 2, 1, 0, 0x00, 1},
    // "Intel I350" (ethernet 2): 00.1 behind root port 01 of socket 0, group 2; probe function 0
    {14, 0x05, DeviceLocation::BehindRootPort, 0x00, 2, 1, 0, 0x01, 2},
    // "PCH Integrated SATA Controller" (sata 3): 00:17.0; probe function 0
    {15, 0x09, DeviceLocation::OnFixedBus, 0x00, 0, 0, 0, 0xB8, 3},
    // "PCH Integrated sSATA Controller" (sata 4): 00:11.5; probe function 5
    {16, 0x09, DeviceLocation::OnFixedBus, 0x00, 0, 0, 5, 0x8D, 4},
};
