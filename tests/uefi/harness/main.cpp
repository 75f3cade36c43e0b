// UEFI application that runs the slot inventory driver in real firmware the
// way a board's firmware volume would, and reports the outcome on the serial
// port for the runner: scenario set-up, driver status and time, the HII
// package list, and the whole SMBIOS table. Then it powers the machine off.
// In report-only mode it loads nothing: the test platform's DXE driver set
// the machine up and the firmware (its DXE core, or the shell) ran the
// driver; the harness shows where the driver came from and what it left.
#include "include/guids.h"
#include "tests/uefi/harness/floor_run.h"
#include "tests/uefi/harness/images.h"
#include "tests/uefi/harness/origins.h"
#include "tests/uefi/harness/smbios_report.h"
#include "tests/uefi/common/console.h"
#include "tests/uefi/common/platform_lang.h"
#include "tests/uefi/common/platform_setup.h"

namespace {

// File name of the empty reference driver; any GUID other than the driver's.
constexpr EFI_GUID EMPTY_DRIVER_FILE_GUID = {
    0x2B9C51E4, 0x7D03, 0x4A66, {0x8F, 0x1E, 0x5C, 0x24, 0x90, 0xA7, 0x3D, 0x11}};

// The driver image the shell scenario loads from the boot volume.
constexpr CHAR16 SHELL_DRIVER_FILE[] = u"\\DRIVER.EFI";

EFI_STATUS LoadScenario(const FirmwareContext &Context, Scenario *Plan) {
  UINT8 *text = nullptr;
  UINTN size = 0;
  EFI_STATUS status = ReadVolumeFile(Context, u"\\SCENARIO.TXT", &text, &size);
  if (!EFI_ERROR(status)) {
    ParseScenario(reinterpret_cast<const CHAR8 *>(text), size, Plan);
    Context.BootServices->FreePool(text);
  }
  return status;
}

// Loads the drivers itself, after setting the platform up as the board would;
// the driver under the file GUID its scenario names.
void RunDriversHere(const FirmwareContext &Context, const Scenario &Plan) {
  SetUpTestPlatform(Context, Plan);
  RunFloorImage(Context);
  RunDriverImage(Context, "empty", u"\\EMPTY.EFI", EMPTY_DRIVER_FILE_GUID);
  RunDriverImage(Context, "driver", u"\\DRIVER.EFI", Plan.DriverFileGuid);
  ReportPackageLists(Context, Plan.DriverFileGuid);
}

// The firmware set the platform up and ran the driver: only show where from.
// A driver whose entry point failed was unloaded by the DXE core that started
// it; the package list it registered stays, under its file GUID.
void ReportFirmwareRun(const FirmwareContext &Context, const Scenario &Plan) {
  ReportPlatformLang(Context);
  if (ReportDriverOrigins(Context, Plan.DriverFileGuid, SHELL_DRIVER_FILE) == 0) {
    ReportPackageLists(Context, Plan.DriverFileGuid);
  }
}

void RunScenario(const FirmwareContext &Context) {
  Scenario plan = {};
  EFI_STATUS status = LoadScenario(Context, &plan);
  PutText("scenario-file");
  PutStatus("status", status);
  PutNewLine();
  ReportScenario(plan);
  if (!plan.HasDriver) {
    // Which driver to look for is the scenario's to say: nothing of a board is built in.
    PutText("driver status=no-file-guid-in-scenario");
    PutNewLine();
  } else if (plan.ReportOnly) {
    ReportFirmwareRun(Context, plan);
  } else {
    RunDriversHere(Context, plan);
  }
  ReportRecords("after", LocateSmbios(Context));
  DumpSmbiosTables(Context);
  if (plan.Probes) {
    ProbeSmbiosProtocol(LocateSmbios(Context));
    ReportRecords("probed", LocateSmbios(Context));
  }
}

}  // namespace

extern "C" EFI_STATUS EFIAPI HarnessMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  FirmwareContext context = {ImageHandle, SystemTable, SystemTable->BootServices,
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
