#include "tests/uefi/common/platform_setup.h"

#include "tests/uefi/common/console.h"
#include "tests/uefi/common/earlier_records.h"
#include "tests/uefi/common/pci_view.h"
#include "tests/uefi/common/platform_lang.h"

namespace {

constexpr UINTN CONFIG_PAGES = 3;  // socket 0 page, socket 1 page, absent page
constexpr UINT8 SIDEBAND_PORT = 0xAE;
constexpr UINT32 SIDEBAND_BASE = 0xFD000000;
// Sideband registers behind the riser strap pads: ownership words of groups 2
// and 3, then the first configuration word of each of the eight strap pads.
constexpr UINT16 STRAP_REGISTERS[] = {0x024, 0x028, 0x034, 0x478, 0x480, 0x488,
                                      0x568, 0x570, 0x578, 0x548, 0x550};

void ReportEcam(EFI_STATUS Status, const ConfigSpaceMap &Map) {
  PutText("ecam");
  PutStatus("status", Status);
  PutField("base", Map.EcamBase, 16);
  PutField("start", Map.StartBus, 2);
  PutField("end", Map.EndBus, 2);
  PutNewLine();
}

// The map over the ECAM window, with the socket and absent pages filled.
EFI_STATUS BuildConfigSpaceMap(const FirmwareContext &Context, const Scenario &Plan,
                               ConfigSpaceMap *Map) {
  ReportEcam(FindEcamWindow(Context, Map), *Map);
  EFI_PHYSICAL_ADDRESS pages = 0;
  auto allocatePages = Service<EFI_ALLOCATE_PAGES>(Context.BootServices->AllocatePages);
  EFI_STATUS status = allocatePages(AllocateAnyPages, EfiBootServicesData, CONFIG_PAGES, &pages);
  if (EFI_ERROR(status)) {
    return status;
  }
  auto *bytes = reinterpret_cast<UINT8 *>(static_cast<UINTN>(pages));
  for (UINTN socket = 0; socket < 2; socket++) {
    Map->SocketPage[socket] = static_cast<UINTN>(pages) + socket * CONFIG_PAGE_SIZE;
    FillSocketPage(bytes + socket * CONFIG_PAGE_SIZE, Plan.SocketWord[socket]);
  }
  Map->AbsentPage = static_cast<UINTN>(pages) + 2 * CONFIG_PAGE_SIZE;
  FillAbsentPage(bytes + 2 * CONFIG_PAGE_SIZE);
  return EFI_SUCCESS;
}

void ReportStrapRegisters() {
  PutText("sideband");
  for (UINT16 offset : STRAP_REGISTERS) {
    UINTN address = SIDEBAND_BASE | (static_cast<UINT32>(SIDEBAND_PORT) << 16) | offset;
    PutText(" ");
    PutHex(offset, 3);
    PutText("=");
    PutHex(MmioRead32(address), 8);
  }
  PutNewLine();
}

}  // namespace

void ReportScenario(const Scenario &Plan) {
  PutText("scenario name=");
  PutText(Plan.Name);
  PutField("socket0", Plan.SocketWord[0], 8);
  PutField("socket1", Plan.SocketWord[1], 8);
  PutField("records", Plan.RecordCount, 2);
  PutField("rejected", Plan.RejectedLines, 2);
  PutField("report", Plan.ReportOnly ? 1 : 0, 1);
  PutNewLine();
}

EFI_STATUS SetUpTestPlatform(const FirmwareContext &Context, const Scenario &Plan) {
  ConfigSpaceMap map = {};
  EFI_STATUS status = BuildConfigSpaceMap(Context, Plan, &map);
  if (!EFI_ERROR(status)) {
    UseConfigSpaceMap(map);
    ReportPciTopology(map);
    if (Plan.HasWindow) {
      BackSidebandWindow(Plan.WindowDevice);
    }
  }
  ReportStrapRegisters();
  ApplyPlatformLang(Context, Plan);
  AddEarlierRecords(Context, Plan);
  ReportRecords("platform", LocateSmbios(Context));
  if (!EFI_ERROR(status)) {
    status = InstallRegisterAccess(Context.BootServices, map);
    if (EFI_ERROR(status)) {
      Service<EFI_FREE_PAGES>(Context.BootServices->FreePages)(map.SocketPage[0], CONFIG_PAGES);
    }
  }
  PutText("register-access");
  PutStatus("status", status);
  PutNewLine();
  return status;
}
