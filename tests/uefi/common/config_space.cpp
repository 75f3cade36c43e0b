#include "tests/uefi/common/config_space.h"

#include "include/guids.h"

namespace {

// Vendor 8086, device 2034: what a socket's bus-number function reads as.
constexpr UINT32 SOCKET_FUNCTION_ID = 0x20348086;

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
  for (UINTN i = 0; i < Map.ServedCount; i++) {
    const ServedFunction &served = Map.Served[i];
    if (served.Bus == bus && served.Device == device && served.Function == function) {
      return served.Page + offset;
    }
  }
  if (bus < Map.StartBus || bus > Map.EndBus || Map.EcamBase == 0) {
    return Map.AbsentPage + offset;
  }
  return static_cast<UINTN>(Map.EcamBase) + (DescriptorWord0 & 0x0FFFFFFFU);
}

void ServeSocketFunctions(const Scenario &Plan, UINTN PagesBase, UINTN AbsentPage, ConfigSpaceMap *Map) {
  Map->ServedCount = 0;
  for (UINTN i = 0; i < Plan.SocketCount; i++) {
    const SocketWord &socket = Plan.Sockets[i];
    UINTN found = 0;
    while (found < Map->ServedCount &&
           (Map->Served[found].Bus != socket.Bus || Map->Served[found].Device != socket.Device ||
            Map->Served[found].Function != socket.Function)) {
      found++;
    }
    auto *page = reinterpret_cast<UINT8 *>(PagesBase + found * CONFIG_PAGE_SIZE);
    if (found == Map->ServedCount) {
      Map->Served[Map->ServedCount++] = {socket.Bus, socket.Device, socket.Function,
                                         reinterpret_cast<UINTN>(page)};
      for (UINTN at = 0; at < CONFIG_PAGE_SIZE; at++) {
        page[at] = 0;
      }
      Store32(page, 0, SOCKET_FUNCTION_ID);
    }
    // A word at offset 0 replaces the ids: the board's register is what the driver reads.
    Store32(page, socket.Offset, socket.Word);
  }
  auto *absent = reinterpret_cast<UINT8 *>(AbsentPage);
  for (UINTN at = 0; at < CONFIG_PAGE_SIZE; at++) {
    absent[at] = 0xFF;
  }
  Map->AbsentPage = AbsentPage;
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
