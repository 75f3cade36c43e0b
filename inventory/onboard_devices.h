// Type 41 records of the five devices soldered onto the board.
#pragma once

#include "../include/smbios_records.h"

inline constexpr UINTN ONBOARD_DEVICE_COUNT = 5;

// Builds the record of device DeviceIndex (0 to 4) in a zero-filled RecordBuffer.
EFI_STATUS BuildOnboardDevice(VOID *Record, UINTN DeviceIndex);
