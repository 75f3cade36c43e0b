// How the firmware maps a loaded image's pages, read through the memory
// attribute protocol: the runner matches pages to the image's sections and
// checks that code is read-only and data not executable.
#pragma once

#include "tests/uefi/common/firmware_access.h"

// Prints "image-pages base=... size=... protocol=STATUS" and then one
// "page offset=... status=... attributes=..." line per 4 KiB page of the image.
void ReportImagePages(const FirmwareContext &Context, const VOID *ImageBase, UINT64 ImageSize);
