// The two mezzanine slots, described on every run whatever is fitted.
#pragma once

#include "../include/smbios_records.h"

inline constexpr UINTN MEZZANINE_SLOT_COUNT = 2;

// Builds mezzanine slot SlotIndex (0 or 1) in a zero-filled RecordBuffer.
EFI_STATUS BuildMezzanineSlot(VOID *Record, UINTN SlotIndex);
