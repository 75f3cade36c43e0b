#include "tests/uefi/common/pci_view.h"

#include "tests/uefi/common/console.h"

namespace {

constexpr UINTN PCI_COMMAND = 0x04;
constexpr UINT16 PCI_COMMAND_MEMORY = 0x0002;
constexpr UINTN PCI_CLASS_REVISION = 0x08;
constexpr UINTN PCI_HEADER_TYPE = 0x0E;
constexpr UINT8 PCI_MULTIFUNCTION = 0x80;
constexpr UINT8 PCI_HEADER_BRIDGE = 0x01;
constexpr UINTN PCI_BAR2 = 0x18;
constexpr UINTN PCI_BAR2_HIGH = 0x1C;
constexpr UINTN PCI_SECONDARY_BUS = 0x19;
constexpr UINTN PCI_SUBORDINATE_BUS = 0x1A;
constexpr UINT32 PCI_BAR_FLAGS = 0xF;
constexpr UINT32 ABSENT = 0xFFFFFFFF;
// Marker the runner writes at offset 0 of the shared memory.
constexpr UINT32 WINDOW_MARKER = 0x4E495753;  // "SWIN"

void ReportFunction(UINTN Bus, UINTN Device, UINTN Function, UINTN Address) {
  UINT32 ids = MmioRead32(Address);
  UINT8 header = MmioRead8(Address + PCI_HEADER_TYPE);
  PutText("pci");
  PutField("bus", Bus, 2);
  PutField("dev", Device, 2);
  PutField("fn", Function, 1);
  PutField("id", ids, 8);
  PutField("class", MmioRead32(Address + PCI_CLASS_REVISION) >> 8, 6);
  PutField("header", header, 2);
  if ((header & 0x7F) == PCI_HEADER_BRIDGE) {
    PutField("secondary", MmioRead8(Address + PCI_SECONDARY_BUS), 2);
    PutField("subordinate", MmioRead8(Address + PCI_SUBORDINATE_BUS), 2);
  }
  PutNewLine();
}

void ReportDevice(const ConfigSpaceMap &Map, UINTN Bus, UINTN Device) {
  UINTN base = static_cast<UINTN>(Map.EcamBase) + (Bus << 20) + (Device << 15);
  if (MmioRead32(base) == ABSENT) {
    return;
  }
  UINTN functions = (MmioRead8(base + PCI_HEADER_TYPE) & PCI_MULTIFUNCTION) != 0 ? 8 : 1;
  for (UINTN function = 0; function < functions; function++) {
    UINTN address = base + (function << 12);
    if (MmioRead32(address) != ABSENT) {
      ReportFunction(Bus, Device, function, address);
    }
  }
}

}  // namespace

EFI_STATUS BackSidebandWindow(UINT8 Device) {
  UINTN config = ConfigAddress(0, Device, 0);
  UINT32 ids = MmioRead32(config);
  PutText("window");
  PutField("dev", Device, 2);
  PutField("id", ids, 8);
  if (ids == ABSENT) {
    PutText(" result=absent");
    PutNewLine();
    return EFI_NOT_FOUND;
  }
  UINT16 command = MmioRead16(config + PCI_COMMAND);
  UINT32 flags = MmioRead32(config + PCI_BAR2) & PCI_BAR_FLAGS;
  MmioWrite16(config + PCI_COMMAND, static_cast<UINT16>(command & ~PCI_COMMAND_MEMORY));
  MmioWrite32(config + PCI_BAR2, SIDEBAND_WINDOW_BAR | flags);
  MmioWrite32(config + PCI_BAR2_HIGH, 0);
  MmioWrite16(config + PCI_COMMAND, static_cast<UINT16>(command | PCI_COMMAND_MEMORY));
  UINT32 bar = MmioRead32(config + PCI_BAR2);
  UINT32 marker = MmioRead32(SIDEBAND_WINDOW_BAR);
  PutField("bar2", bar, 8);
  PutField("marker", marker, 8);
  bool backed = (bar & ~PCI_BAR_FLAGS) == SIDEBAND_WINDOW_BAR && marker == WINDOW_MARKER;
  PutText(backed ? " result=backed" : " result=failed");
  PutNewLine();
  return backed ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

void ReportPciTopology(const ConfigSpaceMap &Map) {
  if (Map.EcamBase == 0) {
    return;
  }
  for (UINTN bus = Map.StartBus; bus <= Map.EndBus; bus++) {
    for (UINTN device = 0; device < 32; device++) {
      ReportDevice(Map, bus, device);
    }
  }
}
