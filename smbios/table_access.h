// Adding and removing records of the firmware SMBIOS table through EFI_SMBIOS_PROTOCOL.
#pragma once

#include "../include/pi_smbios.h"

// Adds a finished record under a freshly assigned handle: Add's status (a
// full table refuses the record), or the failure to find the protocol.
EFI_STATUS InsertSmbiosRecord(VOID *Record);

// Handle of the first record of Type.
EFI_STATUS FindSmbiosRecordOfType(UINT8 Type, EFI_SMBIOS_HANDLE *Handle);

// Removes the first record of Type.
EFI_STATUS RemoveSmbiosRecordOfType(UINT8 Type);

// Removes every record of Type.
EFI_STATUS PurgeSmbiosRecordsOfType(UINT8 Type);

// SMBIOS handles are 16-bit, so no table holds more records than this; every
// walk of the table stops there even if GetNext never reports the end.
inline constexpr UINTN SMBIOS_MAX_RECORDS = 0xFFFF;

void ForgetSmbiosProtocol();
