// What the test platform provides before the driver runs, from a scenario:
// the register-access protocol over the ECAM window with the socket
// bus-number functions served from pages of its own, the backed sideband
// window, PlatformLang, and earlier producers' records. Shared by the harness
// application and the test platform's own DXE driver.
#pragma once

#include "tests/uefi/common/firmware_access.h"
#include "tests/uefi/common/scenario.h"

// Prints a "scenario" line: the scenario's name and what it asks for.
void ReportScenario(const Scenario &Plan);

// Does all of it and prints a report line per step. The register-access
// protocol is installed last, so a driver whose dependency expression names
// it cannot be dispatched before everything else here is done.
EFI_STATUS SetUpTestPlatform(const FirmwareContext &Context, const Scenario &Plan);
