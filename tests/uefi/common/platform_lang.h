// PlatformLang as the scenario wants it: set, deleted or left alone, with a
// report line of what the variable holds afterwards.
#pragma once

#include "tests/uefi/common/firmware_access.h"
#include "tests/uefi/common/scenario.h"

void ApplyPlatformLang(const FirmwareContext &Context, const Scenario &Plan);

// Prints a "platformlang-now" line: the variable's status, attributes and value.
void ReportPlatformLang(const FirmwareContext &Context);
