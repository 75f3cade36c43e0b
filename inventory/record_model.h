// Headers of the Type 9 and Type 41 records, prepared in a zero-filled RecordBuffer.
#pragma once

#include "../include/smbios_records.h"

// Type 9 header with the fields every slot shares, its formatted area as long
// as the platform's layout makes it without peer groups; the slot builder
// fills the rest.
void PrepareSlotHeader(VOID *Record);

// Type 41 header; the device builder fills the rest.
void PrepareDeviceHeader(VOID *Record);

// Gives the record's formatted area Length bytes, its string area moved along
// with it: the slots of a riser share one buffer, and their records' lengths
// differ with their peer groups. Bytes the formatted area gains are zero. A
// string area that cannot be measured, or would not fit the RecordBuffer
// after the move, is emptied instead.
void ResizeFormattedArea(VOID *Record, UINT8 Length);
