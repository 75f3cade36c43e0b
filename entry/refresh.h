// The refresh sequence: replaces every Type 9 and Type 41 record with the driver's own.
#pragma once

#include "../include/uefi_base.h"

// Status of adding the last onboard device (or of its build, if that failed).
EFI_STATUS RefreshSlotAndDeviceRecords();
