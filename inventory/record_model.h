// Headers of the Type 9 and Type 41 records, prepared in a zero-filled RecordBuffer.
#pragma once

#include "../include/smbios_records.h"

// Type 9 header with the fields every slot shares; the slot builder fills the rest.
void PrepareSlotHeader(VOID *Record);

// Type 41 header; the device builder fills the rest.
void PrepareDeviceHeader(VOID *Record);
