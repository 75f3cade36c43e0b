#include "onboard_devices.h"

#include "../hw/pci_config.h"
#include "../include/uefi_hii.h"
#include "record_model.h"
#include "slot_fill.h"

namespace {

// How a device's bus is found: behind a bridge at a fixed bus, behind a root
// port of a socket, or directly on a fixed bus.
enum class DeviceLocation : UINT8 { BehindFixedBridge, BehindRootPort, OnFixedBus };

struct OnboardDevice {
  EFI_STRING_ID StringId;
  UINT8 DeviceType;
  DeviceLocation Location;
  UINT8 BusOrSocket;    // the fixed bus, or the socket of the root port
  UINT8 Group;          // root-port group (BehindRootPort only)
  UINT8 Device;         // the bridge's device, or the device itself on a fixed bus
  UINT8 ProbeFunction;  // the function whose answer means "enabled"
  UINT8 DevFunc;        // Device/Function byte written to the record
};

// Indexed by device index, which is also the instance written.
constexpr OnboardDevice ONBOARD_DEVICES[ONBOARD_DEVICE_COUNT] = {
    // "Aspeed Video": behind the bridge at bus 2, device 0.
    {12, OnBoardDeviceExtendedTypeVideo, DeviceLocation::BehindFixedBridge, 2, 0, 0, 0, 0x00},
    // "Intel I350", both ports: behind socket 0's group 2 root port, device 1.
    // The second port's presence is tested on function 0 too.
    {13, OnBoardDeviceExtendedTypeEthernet, DeviceLocation::BehindRootPort, 0, 2, 1, 0, 0x00},
    {14, OnBoardDeviceExtendedTypeEthernet, DeviceLocation::BehindRootPort, 0, 2, 1, 0, 0x01},
    // "PCH Integrated SATA Controller" at 00:17.0, "... sSATA Controller" at 00:11.5.
    {15, OnBoardDeviceExtendedTypeSATAController, DeviceLocation::OnFixedBus, 0, 0, 0x17, 0, 0xB8},
    {16, OnBoardDeviceExtendedTypeSATAController, DeviceLocation::OnFixedBus, 0, 0, 0x11, 5, 0x8D},
};

// The bus the device sits on, and whether it answers there.
UINT8 LocateOnboardDevice(const OnboardDevice &Device, bool *Present) {
  if (Device.Location == DeviceLocation::OnFixedBus) {
    *Present = IsFunctionPresent(Device.BusOrSocket, Device.Device, Device.ProbeFunction);
    return Device.BusOrSocket;
  }
  UINT8 bridgeBus = Device.Location == DeviceLocation::BehindRootPort
                        ? RootPortBus(Device.BusOrSocket, Device.Group)
                        : Device.BusOrSocket;
  UINT8 bus = SecondaryBus(bridgeBus, Device.Device);
  *Present = IsFunctionPresent(bus, 0, 0);
  return bus;
}

}  // namespace

EFI_STATUS BuildOnboardDevice(VOID *Record, UINTN DeviceIndex) {
  PrepareDeviceHeader(Record);
  if (DeviceIndex >= ONBOARD_DEVICE_COUNT) {
    return EFI_INVALID_PARAMETER;
  }
  const OnboardDevice &device = ONBOARD_DEVICES[DeviceIndex];
  bool present = false;
  SMBIOS_TABLE_TYPE41 *record = static_cast<SMBIOS_TABLE_TYPE41 *>(Record);
  record->BusNum = LocateOnboardDevice(device, &present);
  record->DeviceType = present ? (device.DeviceType | ONBOARD_DEVICE_ENABLED) : device.DeviceType;
  record->DevFuncNum = device.DevFunc;
  record->DeviceTypeInstance = static_cast<UINT8>(DeviceIndex);
  AttachDesignationString(Record, device.StringId);
  return EFI_SUCCESS;
}
