// Loading driver images from the boot volume as a firmware volume would hand
// them over, and checking what they leave in the HII database.
#pragma once

#include "uefi/test_common/firmware_access.h"

struct ImageRun {
  EFI_STATUS LoadStatus;
  EFI_STATUS StartStatus;
  UINT64 StartTicks;  // time stamp counter ticks spent in StartImage
  UINTN FileSize;
};

// Reads Path from the volume, loads it from memory under a device path of one
// firmware-volume file node naming FileGuid, starts it and prints the outcome
// as an "image" line labelled Label.
ImageRun RunDriverImage(const FirmwareContext &Context, const CHAR8 *Label, const CHAR16 *Path,
                        const EFI_GUID &FileGuid);

// Prints "hii" lines: every registered package list named Guid, with its bytes.
void ReportPackageLists(const FirmwareContext &Context, const EFI_GUID &Guid);
