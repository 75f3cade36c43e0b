#include "onboard_devices.h"

#include "../hw/pci_config.h"
#include "record_model.h"
#include "slot_fill.h"
// ONBOARD_DEVICES, the platform's devices.
#include "onboard_device_table.h"

namespace {

// The bus the device sits on, and whether it answers there: the device and
// probe function on that bus, the device taken from the record's
// Device/Function byte.
UINT8 LocateOnboardDevice(const OnboardDevice &Device, bool *Present) {
  UINT8 bus = Device.BusOrSocket;
  if (Device.Location == DeviceLocation::BehindRootPort) {
    bus = RootPortBus(Device.BusOrSocket, Device.Group);
  }
  if (Device.Location != DeviceLocation::OnFixedBus) {
    bus = SecondaryBus(bus, Device.Bridge);
  }
  *Present = IsFunctionPresent(bus, Device.DevFunc >> 3, Device.ProbeFunction);
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
  record->DeviceTypeInstance = device.Instance;
  AttachDesignationString(Record, device.StringId);
  return EFI_SUCCESS;
}
