// Loading driver images from the boot volume as a firmware volume would hand
// them over, and checking what they leave in the HII database.
#pragma once

#include "tests/uefi/common/firmware_access.h"

struct ImageRun {
  EFI_STATUS LoadStatus;
  EFI_STATUS StartStatus;
  UINT64 StartTicks;  // time stamp counter ticks spent in StartImage
  UINTN FileSize;
};

// Reads Path from the volume, loads it from memory under a device path of one
// firmware-volume file node naming FileGuid, hands it Options as its load
// options, starts it with the firmware services it calls metered, and prints
// the outcome as an "image" line labelled Label and its "service" lines.
ImageRun RunDriverImage(const FirmwareContext &Context, const CHAR8 *Label, const CHAR16 *Path,
                        const EFI_GUID &FileGuid, VOID *Options = nullptr,
                        UINT32 OptionsSize = 0);

// Prints "hii" lines: every registered package list named Guid, with its bytes.
void ReportPackageLists(const FirmwareContext &Context, const EFI_GUID &Guid);
