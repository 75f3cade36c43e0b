// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The onboard devices by device index: string id, Device Type, location,
// bus or socket, group, bridge device, probe function, Device/Function, instance.
#pragma once

#include "inventory/onboard_devices.h"

constexpr OnboardDevice ONBOARD_DEVICES[ONBOARD_DEVICE_COUNT] = {
    // "Onboard video" (video 1): 00:03.0; probe function 0
    {12, 0x03, DeviceLocation::OnFixedBus, 0x00, 0, 0, 0, 0x18, 1},
    // "Boot NVMe" (nvme 1): 00.0 behind bridge 00:02; probe function 0
    {13, 0x0F, DeviceLocation::BehindFixedBridge, 0x00, 0, 2, 0, 0x00, 1},
    // "Onboard LAN" (ethernet 1): 00.0 behind root port 03 of socket 1, group 0; probe function 0
    {14, 0x05, DeviceLocation::BehindRootPort, 0x01, 0, 3, 0, 0x00, 1},
};
