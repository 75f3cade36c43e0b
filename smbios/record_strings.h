// Placing a designation string into a record under construction.
#pragma once

#include "../include/smbios_records.h"

// Total size of the record at the start of a RecordBuffer: formatted area,
// strings with their NULs and the area's final NUL. EFI_INVALID_PARAMETER for
// a string of RECORD_STRING_LIMIT characters or more (Size then holds the
// offset at which it begins) and for a string area that does not end inside
// the RECORD_BUFFER_SIZE bytes of the buffer. The record is only read.
EFI_STATUS MeasureSmbiosRecord(const VOID *const &Record, UINTN *Size);

// Sets string StringNumber (from 1; 0 also names string 1) of the record at
// the start of a RecordBuffer to String, converted to ASCII by keeping the low
// byte of each character. One past the last string appends. The formatted
// area and every other string keep their bytes. On failure the record is
// unchanged:
//   EFI_INVALID_PARAMETER  null argument, a string of RECORD_STRING_LIMIT
//                          characters or more (new or already in the record),
//                          a string area that does not end inside the buffer,
//                          StringNumber beyond one past the last string, or a
//                          result that would not fit in RECORD_BUFFER_SIZE;
//   EFI_OUT_OF_RESOURCES   a temporary buffer could not be allocated.
EFI_STATUS ReplaceRecordString(VOID *Record, UINTN StringNumber, const CHAR16 *String);
