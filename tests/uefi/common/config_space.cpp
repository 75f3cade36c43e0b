#include "tests/uefi/common/config_space.h"

#include "include/guids.h"

namespace {

// Vendor 8086, device 2034: what a socket's bus-number function reads as.
constexpr UINT32 SOCKET_FUNCTION_ID = 0x20348086;
constexpr UINT32 SOCKET_DEVICE = 8;
constexpr UINT32 SOCKET_FUNCTION = 2;
constexpr UINT32 SOCKET1_BUS = 0x80;

constinit ConfigSpaceMap gMap = {};

UINTN EFIAPI ConfigSpaceAddressMember(const PciConfigAddressDescriptor *Descriptor) {
  return MapConfigAddress(gMap, Descriptor->Word[0]);
}

constinit RegisterAccessProtocol gRegisterAccess = {nullptr, nullptr, nullptr,
                                                     &ConfigSpaceAddressMember};

void Store32(UINT8 *Page, UINTN Offset, UINT32 Value) {
  for (UINTN i = 0; i < 4; i++) {
    Page[Offset + i] = static_cast<UINT8>(Value >> (8 * i));
  }
}

}  // namespace

UINTN MapConfigAddress(const ConfigSpaceMap &Map, UINT32 DescriptorWord0) {
  UINT32 bus = (DescriptorWord0 >> PCI_DESCRIPTOR_BUS_SHIFT) & 0xFF;
  UINT32 device = (DescriptorWord0 >> PCI_DESCRIPTOR_DEVICE_SHIFT) & 0x1F;
  UINT32 function = (DescriptorWord0 >> PCI_DESCRIPTOR_FUNCTION_SHIFT) & 0x7;
  UINT32 offset = DescriptorWord0 & 0xFFF;
  if (device == SOCKET_DEVICE && function == SOCKET_FUNCTION &&
      (bus == 0 || bus == SOCKET1_BUS)) {
    return Map.SocketPage[bus == 0 ? 0 : 1] + offset;
  }
  if (bus < Map.StartBus || bus > Map.EndBus || Map.EcamBase == 0) {
    return Map.AbsentPage + offset;
  }
  return static_cast<UINTN>(Map.EcamBase) + (DescriptorWord0 & 0x0FFFFFFFU);
}

void FillSocketPage(UINT8 *Page, UINT32 SocketWord) {
  for (UINTN i = 0; i < CONFIG_PAGE_SIZE; i++) {
    Page[i] = 0;
  }
  Store32(Page, 0, SOCKET_FUNCTION_ID);
  Store32(Page, SOCKET_BUS_WORD_OFFSET, SocketWord);
}

void FillAbsentPage(UINT8 *Page) {
  for (UINTN i = 0; i < CONFIG_PAGE_SIZE; i++) {
    Page[i] = 0xFF;
  }
}

void UseConfigSpaceMap(const ConfigSpaceMap &Map) { gMap = Map; }

EFI_STATUS InstallRegisterAccess(EFI_BOOT_SERVICES *BootServices, const ConfigSpaceMap &Map) {
  UseConfigSpaceMap(Map);
  EFI_HANDLE handle = nullptr;
  auto install = Service<EFI_INSTALL_PROTOCOL_INTERFACE>(BootServices->InstallProtocolInterface);
  return install(&handle, &gRegisterAccessProtocolGuid, EFI_NATIVE_INTERFACE, &gRegisterAccess);
}

UINTN ConfigAddress(UINT8 Bus, UINT8 Device, UINT8 Function) {
  UINT32 word = (static_cast<UINT32>(Bus) << PCI_DESCRIPTOR_BUS_SHIFT) |
                (static_cast<UINT32>(Device & 0x1F) << PCI_DESCRIPTOR_DEVICE_SHIFT) |
                (static_cast<UINT32>(Function & 0x7) << PCI_DESCRIPTOR_FUNCTION_SHIFT);
  return MapConfigAddress(gMap, word);
}
