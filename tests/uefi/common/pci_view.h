// What the harness does with PCI hardware itself: backs the PCH sideband
// window with the shared-memory device's BAR, and reports the topology the
// firmware produced so the runner can check the board file against it.
#pragma once

#include "tests/uefi/common/firmware_access.h"

// Physical address the window BAR is moved to: the whole PCH sideband window,
// 16 MiB from 0xFD000000, so that every port's registers (port p at offset
// p << 16) fall into the shared memory, whichever GPIO groups a platform's
// strap pads are in.
inline constexpr UINT32 SIDEBAND_WINDOW_BAR = 0xFD000000;

// Moves BAR2 of bus 0, device Device, function 0 to SIDEBAND_WINDOW_BAR and
// prints the outcome. Memory decoding is off while the BAR changes.
EFI_STATUS BackSidebandWindow(UINT8 Device);

// Prints one "pci" line per function that answers in the ECAM window:
// location, ids, class, header type, and for bridges the secondary bus.
void ReportPciTopology(const ConfigSpaceMap &Map);
