// What the harness hands the floor driver as its load options: everything
// the slot inventory driver works out, already worked out, so that the floor
// driver does only the firmware work no implementation can avoid.
#pragma once

#include "include/pi_smbios.h"
#include "include/uefi_hii.h"

inline constexpr UINTN FLOOR_MAX_RECORDS = 32;

struct FloorPlan {
  // Filled by the harness.
  const EFI_HII_PACKAGE_LIST_HEADER *PackageList;  // the driver's, under the driver's GUID
  UINT32 SlotRecordCount;                          // Type 9 records, first in Records
  UINT32 DeviceRecordCount;                        // Type 41 records, after them
  EFI_SMBIOS_TABLE_HEADER *Records[FLOOR_MAX_RECORDS];
  // Filled by the floor driver, for the harness to report and undo.
  EFI_STATUS RegisterStatus;
  EFI_HII_HANDLE PackageListHandle;
  UINT32 Removed;
  UINT32 Added;
};
static_assert(OFFSET_OF(FloorPlan, Records) == 16);
