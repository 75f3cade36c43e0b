// UEFI application that runs the slot inventory driver in real firmware the
// way a board's firmware volume would, and reports the outcome on the serial
// port for the runner: scenario set-up, driver status and time, the HII
// package list, and the whole SMBIOS table. Then it powers the machine off.
#include "include/guids.h"
#include "uefi/harness/console.h"
#include "uefi/harness/floor_run.h"
#include "uefi/harness/images.h"
#include "uefi/harness/pci_view.h"
#include "uefi/harness/smbios_report.h"

namespace {

constexpr UINTN HARNESS_PAGES = 3;  // socket 0 page, socket 1 page, absent page
constexpr UINT8 SIDEBAND_PORT = 0xAE;
constexpr UINT32 SIDEBAND_BASE = 0xFD000000;
// Sideband registers behind the riser strap pads: ownership words of groups 2
// and 3, then the first configuration word of each of the eight strap pads.
constexpr UINT16 STRAP_REGISTERS[] = {0x024, 0x028, 0x034, 0x478, 0x480, 0x488,
                                      0x568, 0x570, 0x578, 0x548, 0x550};

// File name of the empty reference driver; any GUID other than the driver's.
constexpr EFI_GUID EMPTY_DRIVER_FILE_GUID = {
    0x2B9C51E4, 0x7D03, 0x4A66, {0x8F, 0x1E, 0x5C, 0x24, 0x90, 0xA7, 0x3D, 0x11}};

constexpr CHAR16 PLATFORM_LANG_NAME[] = u"PlatformLang";

void ReportScenario(const Scenario &Plan) {
  PutText("scenario name=");
  PutText(Plan.Name);
  PutField("socket0", Plan.SocketWord[0], 8);
  PutField("socket1", Plan.SocketWord[1], 8);
  PutField("records", Plan.RecordCount, 2);
  PutField("rejected", Plan.RejectedLines, 2);
  PutNewLine();
}

EFI_STATUS LoadScenario(const HarnessContext &Context, Scenario *Plan) {
  UINT8 *text = nullptr;
  UINTN size = 0;
  EFI_STATUS status = ReadVolumeFile(Context, u"\\SCENARIO.TXT", &text, &size);
  if (!EFI_ERROR(status)) {
    ParseScenario(reinterpret_cast<const CHAR8 *>(text), size, Plan);
    Context.BootServices->FreePool(text);
  }
  return status;
}

EFI_STATUS InstallConfigSpace(const HarnessContext &Context, const Scenario &Plan) {
  ConfigSpaceMap map = {};
  EFI_STATUS ecam = FindEcamWindow(Context, &map);
  PutText("ecam");
  PutStatus("status", ecam);
  PutField("base", map.EcamBase, 16);
  PutField("start", map.StartBus, 2);
  PutField("end", map.EndBus, 2);
  PutNewLine();
  EFI_PHYSICAL_ADDRESS pages = 0;
  auto allocatePages = Service<EFI_ALLOCATE_PAGES>(Context.BootServices->AllocatePages);
  EFI_STATUS status = allocatePages(AllocateAnyPages, EfiBootServicesData, HARNESS_PAGES, &pages);
  if (!EFI_ERROR(status)) {
    auto *bytes = reinterpret_cast<UINT8 *>(static_cast<UINTN>(pages));
    for (UINTN socket = 0; socket < 2; socket++) {
      map.SocketPage[socket] = static_cast<UINTN>(pages) + socket * CONFIG_PAGE_SIZE;
      FillSocketPage(bytes + socket * CONFIG_PAGE_SIZE, Plan.SocketWord[socket]);
    }
    map.AbsentPage = static_cast<UINTN>(pages) + 2 * CONFIG_PAGE_SIZE;
    FillAbsentPage(bytes + 2 * CONFIG_PAGE_SIZE);
    status = InstallRegisterAccess(Context.BootServices, map);
  }
  PutText("register-access");
  PutStatus("status", status);
  PutNewLine();
  if (!EFI_ERROR(status)) {
    ReportPciTopology(map);
  }
  return status;
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

void ReportPlatformLang(const HarnessContext &Context) {
  CHAR8 value[64];
  UINTN size = sizeof(value) - 1;
  UINT32 attributes = 0;
  EFI_STATUS status = Context.RuntimeServices->GetVariable(PLATFORM_LANG_NAME, &EFI_GLOBAL_VARIABLE_GUID,
                                                           &attributes, &size, value);
  PutText("platformlang-now");
  PutStatus("status", status);
  if (!EFI_ERROR(status)) {
    PutField("attributes", attributes, 2);
    PutField("size", size, 2);
    value[size] = 0;
    PutText(" value=");
    PutText(value);
  }
  PutNewLine();
}

void ApplyPlatformLang(const HarnessContext &Context, const Scenario &Plan) {
  if (Plan.Language == LanguageAction::Keep) {
    ReportPlatformLang(Context);
    return;
  }
  auto setVariable = Service<EFI_SET_VARIABLE>(Context.RuntimeServices->SetVariable);
  EFI_STATUS removed = setVariable(PLATFORM_LANG_NAME, &EFI_GLOBAL_VARIABLE_GUID, 0, 0, nullptr);
  PutText("platformlang");
  PutStatus("delete", removed);
  if (Plan.Language == LanguageAction::Set) {
    UINTN length = 0;
    while (Plan.PlatformLang[length] != 0) {
      length++;
    }
    // Volatile first, as a board's own setup would; firmware that insists on
    // the variable's defined attributes gets them on the second try.
    EFI_STATUS set = setVariable(PLATFORM_LANG_NAME, &EFI_GLOBAL_VARIABLE_GUID,
                                 EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS,
                                 length + 1, Plan.PlatformLang);
    PutStatus("set", set);
    if (EFI_ERROR(set)) {
      set = setVariable(PLATFORM_LANG_NAME, &EFI_GLOBAL_VARIABLE_GUID,
                        EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                            EFI_VARIABLE_RUNTIME_ACCESS,
                        length + 1, Plan.PlatformLang);
      PutStatus("set-nv", set);
    }
  }
  PutNewLine();
  ReportPlatformLang(Context);
}

void ReportRecords(const CHAR8 *Phase, EFI_SMBIOS_PROTOCOL *Smbios) {
  PutText("records phase=");
  PutText(Phase);
  PutNewLine();
  ReportProtocolRecords(Smbios);
}

void RunScenario(const HarnessContext &Context) {
  Scenario plan = {};
  EFI_STATUS status = LoadScenario(Context, &plan);
  PutText("scenario-file");
  PutStatus("status", status);
  PutNewLine();
  ReportScenario(plan);
  InstallConfigSpace(Context, plan);
  if (plan.HasWindow) {
    BackSidebandWindow(plan.WindowDevice);
  }
  ReportStrapRegisters();
  ApplyPlatformLang(Context, plan);
  AddEarlierRecords(Context, plan);
  ReportRecords("before", LocateSmbios(Context));
  RunFloorImage(Context);
  RunDriverImage(Context, "empty", u"\\EMPTY.EFI", EMPTY_DRIVER_FILE_GUID);
  RunDriverImage(Context, "driver", u"\\DRIVER.EFI", SLOT_INVENTORY_DRIVER_FILE_GUID);
  ReportPackageLists(Context, SLOT_INVENTORY_DRIVER_FILE_GUID);
  ReportRecords("after", LocateSmbios(Context));
  DumpSmbiosTables(Context);
  if (plan.Probes) {
    ProbeSmbiosProtocol(LocateSmbios(Context));
    ReportRecords("probed", LocateSmbios(Context));
  }
}

}  // namespace

extern "C" EFI_STATUS EFIAPI HarnessMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  HarnessContext context = {ImageHandle, SystemTable, SystemTable->BootServices,
                            SystemTable->RuntimeServices};
  ConsoleInit(SystemTable);
  // The boot manager arms a watchdog for every boot option; a slow scenario must not trip it.
  Service<EFI_SET_WATCHDOG_TIMER>(context.BootServices->SetWatchdogTimer)(0, 0, 0, nullptr);
  PutNewLine();
  PutText("=== SLOTINV HARNESS BEGIN ===");
  PutNewLine();
  RunScenario(context);
  PutText("=== SLOTINV HARNESS END ===");
  PutNewLine();
  Service<EFI_RESET_SYSTEM>(context.RuntimeServices->ResetSystem)(EfiResetShutdown, EFI_SUCCESS, 0,
                                                                 nullptr);
  return EFI_SUCCESS;
}
