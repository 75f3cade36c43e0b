// Where the firmware loaded the driver from, found among the loaded images
// after the fact: the DXE core's firmware-file node on a firmware-volume
// handle, or the shell's file-path node on a file-system handle.
#pragma once

#include "tests/uefi/common/firmware_access.h"

// Prints an "origin" line for every loaded image whose file path starts with
// a firmware-file node naming FileGuid or with a file-path node ending in
// FileName, then the "hii" lines of the package lists each registered: under
// the GUID the driver takes from that first node. Returns how many it found.
UINTN ReportDriverOrigins(const FirmwareContext &Context, const EFI_GUID &FileGuid,
                          const CHAR16 *FileName);
