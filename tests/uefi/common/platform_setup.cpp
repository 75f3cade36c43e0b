#include "tests/uefi/common/platform_setup.h"

#include "tests/uefi/common/console.h"
#include "tests/uefi/common/earlier_records.h"
#include "tests/uefi/common/pci_view.h"
#include "tests/uefi/common/platform_lang.h"

namespace {

// A page per socket function at most, then the absent page.
constexpr UINTN CONFIG_PAGES = SCENARIO_SOCKET_LIMIT + 1;

void ReportEcam(EFI_STATUS Status, const ConfigSpaceMap &Map) {
  PutText("ecam");
  PutStatus("status", Status);
  PutField("base", Map.EcamBase, 16);
  PutField("start", Map.StartBus, 2);
  PutField("end", Map.EndBus, 2);
  PutNewLine();
}

// The map over the ECAM window, with the socket and absent pages filled;
// Pages receives the pages' address.
EFI_STATUS BuildConfigSpaceMap(const FirmwareContext &Context, const Scenario &Plan,
                               ConfigSpaceMap *Map, EFI_PHYSICAL_ADDRESS *Pages) {
  ReportEcam(FindEcamWindow(Context, Map), *Map);
  auto allocatePages = Service<EFI_ALLOCATE_PAGES>(Context.BootServices->AllocatePages);
  EFI_STATUS status = allocatePages(AllocateAnyPages, EfiBootServicesData, CONFIG_PAGES, Pages);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN base = static_cast<UINTN>(*Pages);
  ServeSocketFunctions(Plan, base, base + SCENARIO_SOCKET_LIMIT * CONFIG_PAGE_SIZE, Map);
  return EFI_SUCCESS;
}

// The registers behind the platform's strap pads, as the driver will read them.
void ReportSidebandRegisters(const Scenario &Plan) {
  PutText("sideband");
  for (UINTN i = 0; i < Plan.SidebandCount; i++) {
    PutText(" ");
    PutHex(Plan.SidebandRegisters[i], 8);
    PutText("=");
    PutHex(MmioRead32(Plan.SidebandRegisters[i]), 8);
  }
  PutNewLine();
}

}  // namespace

void ReportScenario(const Scenario &Plan) {
  PutText("scenario name=");
  PutText(Plan.Name);
  PutField("sockets", Plan.SocketCount, 1);
  for (UINTN i = 0; i < Plan.SocketCount; i++) {
    PutText(" socket");
    PutHex(i, 1);
    PutText("=");
    PutHex(Plan.Sockets[i].Word, 8);
  }
  PutField("records", Plan.RecordCount, 2);
  PutField("rejected", Plan.RejectedLines, 2);
  PutField("report", Plan.ReportOnly ? 1 : 0, 1);
  PutNewLine();
}

EFI_STATUS SetUpTestPlatform(const FirmwareContext &Context, const Scenario &Plan) {
  ConfigSpaceMap map = {};
  EFI_PHYSICAL_ADDRESS pages = 0;
  EFI_STATUS status = BuildConfigSpaceMap(Context, Plan, &map, &pages);
  if (!EFI_ERROR(status)) {
    UseConfigSpaceMap(map);
    ReportPciTopology(map);
    if (Plan.HasWindow) {
      BackSidebandWindow(Plan.WindowDevice);
    }
  }
  ReportSidebandRegisters(Plan);
  ApplyPlatformLang(Context, Plan);
  AddEarlierRecords(Context, Plan);
  ReportRecords("platform", LocateSmbios(Context));
  if (!EFI_ERROR(status)) {
    status = InstallRegisterAccess(Context.BootServices, map);
    if (EFI_ERROR(status)) {
      Service<EFI_FREE_PAGES>(Context.BootServices->FreePages)(pages, CONFIG_PAGES);
    }
  }
  PutText("register-access");
  PutStatus("status", status);
  PutNewLine();
  return status;
}
