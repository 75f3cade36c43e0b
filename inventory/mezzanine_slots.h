// The mezzanine slots: slots fixed on the board, described on every run
// whatever is fitted.
#pragma once

#include "../include/smbios_records.h"
// MEZZANINE_SLOT_COUNT.
#include "platform_layout.h"

// Builds mezzanine slot SlotIndex (0 to MEZZANINE_SLOT_COUNT - 1) in a
// zero-filled RecordBuffer.
EFI_STATUS BuildMezzanineSlot(VOID *Record, UINTN SlotIndex);
