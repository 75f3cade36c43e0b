// What the harness does with PCI hardware itself: backs the PCH sideband
// window with the shared-memory device's BAR, and reports the topology the
// firmware produced so the runner can check the board file against it.
#pragma once

#include "tests/uefi/common/firmware_access.h"

// Physical address the window BAR is moved to: with a 1 MiB BAR, port 0xAE of
// the sideband window (0xFDAE0000) falls 0xE0000 into the shared memory.
inline constexpr UINT32 SIDEBAND_WINDOW_BAR = 0xFDA00000;

// Moves BAR2 of bus 0, device Device, function 0 to SIDEBAND_WINDOW_BAR and
// prints the outcome. Memory decoding is off while the BAR changes.
EFI_STATUS BackSidebandWindow(UINT8 Device);

// Prints one "pci" line per function that answers in the ECAM window:
// location, ids, class, header type, and for bridges the secondary bus.
void ReportPciTopology(const ConfigSpaceMap &Map);
