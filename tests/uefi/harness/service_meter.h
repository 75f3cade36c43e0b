// Counting the firmware services an image calls while it starts: the boot-
// services table entries and protocol members the slot inventory driver uses
// are replaced by wrappers that count the calls made from the image and the
// time stamp counter ticks spent in them, and put back afterwards.
#pragma once

#include "tests/uefi/common/firmware_access.h"

enum ServiceId : UINTN {
  SERVICE_ALLOCATE_POOL,
  SERVICE_FREE_POOL,
  SERVICE_HANDLE_PROTOCOL,
  SERVICE_LOCATE_PROTOCOL,
  SERVICE_GET_VARIABLE,
  SERVICE_SMBIOS_ADD,
  SERVICE_SMBIOS_REMOVE,
  SERVICE_SMBIOS_GET_NEXT,
  SERVICE_HII_NEW_PACKAGE_LIST,
  SERVICE_HII_GET_STRING,
  SERVICE_HII_GET_LANGUAGES,
  SERVICE_CONFIG_SPACE_ADDRESS,
  SERVICE_COUNT
};

struct ServiceUse {
  UINT64 Count;
  UINT64 Ticks;
};

// Installs the wrappers; only calls whose return address lies inside Image's
// loaded range count, so the firmware's own nested calls and event
// notifications do not. Usage starts from zero.
void BeginMetering(const FirmwareContext &Context, EFI_HANDLE Image);

// Puts every replaced entry back as it was.
void EndMetering(const FirmwareContext &Context);

// One "service label=LABEL name=NAME count=N ticks=T" line per service.
void ReportServiceUse(const CHAR8 *Label);
