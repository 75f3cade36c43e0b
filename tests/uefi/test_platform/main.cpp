// The test platform's DXE driver: what a real board's platform code provides
// and QEMU does not. Dispatched by the DXE core from the firmware volume once
// variables can be written, SMBIOS is up and PCI enumeration is complete, it
// reads the scenario from the fw_cfg file opt/slotinv/scenario and sets the
// platform up from it (see platform_setup.h), reporting on the serial port.
// It stays resident: the register-access protocol and the socket pages are its.
#include "tests/uefi/common/console.h"
#include "tests/uefi/common/platform_setup.h"
#include "tests/uefi/test_platform/fw_cfg.h"

namespace {

constexpr CHAR8 SCENARIO_FILE[] = "opt/slotinv/scenario";

EFI_STATUS LoadScenario(const FirmwareContext &Context, Scenario *Plan) {
  UINT8 *text = nullptr;
  UINTN size = 0;
  EFI_STATUS status = ReadFwCfgFile(Context, SCENARIO_FILE, &text, &size);
  if (!EFI_ERROR(status)) {
    ParseScenario(reinterpret_cast<const CHAR8 *>(text), size, Plan);
    Context.BootServices->FreePool(text);
  }
  return status;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI TestPlatformEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  FirmwareContext context = {ImageHandle, SystemTable, SystemTable->BootServices,
                             SystemTable->RuntimeServices};
  ConsoleInit(SystemTable);
  PutNewLine();
  PutText("=== SLOTINV PLATFORM BEGIN ===");
  PutNewLine();
  Scenario plan = {};
  EFI_STATUS status = LoadScenario(context, &plan);
  PutText("scenario-file source=fw_cfg");
  PutStatus("status", status);
  PutNewLine();
  if (!EFI_ERROR(status)) {
    ReportScenario(plan);
    status = SetUpTestPlatform(context, plan);
  }
  PutText("=== SLOTINV PLATFORM END ===");
  PutNewLine();
  // Without the protocol nothing of this image is in use, so it may go.
  return status;
}
