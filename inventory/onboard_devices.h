// Type 41 records of the devices soldered onto the board.
#pragma once

#include "../include/smbios_records.h"
#include "../include/uefi_hii.h"
// ONBOARD_DEVICE_COUNT.
#include "platform_layout.h"

// How a device's bus is found: behind a bridge at a fixed bus, behind a root
// port of a socket, or directly on a fixed bus.
enum class DeviceLocation : UINT8 { BehindFixedBridge, BehindRootPort, OnFixedBus };

// One onboard device. The platform's table of them (onboard_device_table.h)
// is indexed by device index.
struct OnboardDevice {
  EFI_STRING_ID StringId;
  UINT8 DeviceType;
  DeviceLocation Location;
  UINT8 BusOrSocket;    // the fixed bus, or the socket of the root port
  UINT8 Group;          // root-port group (BehindRootPort only)
  UINT8 Bridge;         // the device of the bridge or root port (not OnFixedBus)
  UINT8 ProbeFunction;  // the function of the device whose answer means "enabled"
  UINT8 DevFunc;        // Device/Function byte written to the record: where the device answers
  UINT8 Instance;       // Device Type Instance written to the record
};
static_assert(sizeof(OnboardDevice) == 10);

// Builds the record of device DeviceIndex (0 to ONBOARD_DEVICE_COUNT - 1) in a
// zero-filled RecordBuffer.
EFI_STATUS BuildOnboardDevice(VOID *Record, UINTN DeviceIndex);
