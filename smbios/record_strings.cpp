#include "record_strings.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../base/strings.h"

namespace {

// The new string is measured one character past the limit, so that a string
// of exactly RECORD_STRING_LIMIT characters shows as too long.
constexpr UINTN NEW_STRING_LENGTH_BOUND = RECORD_STRING_LIMIT + 1;

// Where the string being replaced lies in the record.
struct RecordTarget {
  UINTN RecordSize;  // the whole record, the area's final NUL included
  UINTN Offset;      // first byte of the target string
  UINTN Length;      // its characters before its NUL
};

// Finds string StringNumber. It must begin inside the record: at the latest
// on the area's final NUL, which is where the string after the last one goes.
EFI_STATUS LocateTargetString(const UINT8 *Record, UINTN StringNumber, RecordTarget *Target) {
  UINTN recordSize = 0;
  const VOID *start = Record;
  if (EFI_ERROR(MeasureSmbiosRecord(start, &recordSize))) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN at = Record[1];
  UINTN nulsToPass = StringNumber > 1 ? StringNumber - 1 : 0;
  while (nulsToPass > 0 && at < recordSize) {
    if (Record[at] == 0) {
      nulsToPass--;
    }
    at++;
  }
  if (at >= recordSize) {
    return EFI_INVALID_PARAMETER;
  }
  // The record's last byte is a NUL, so this stops inside the record.
  UINTN length = 0;
  while (Record[at + length] != 0) {
    length++;
  }
  *Target = {recordSize, at, length};
  return EFI_SUCCESS;
}

// The low byte of each of Length characters into a zero-filled Ascii; a
// character whose low byte is zero ends the string early. Returns its length.
UINTN NarrowToAscii(const CHAR16 *Wide, UINTN Length, CHAR8 *Ascii) {
  UINTN length = 0;
  while (length < Length && static_cast<CHAR8>(Wide[length] & 0xFF) != '\0') {
    Ascii[length] = static_cast<CHAR8>(Wide[length] & 0xFF);
    length++;
  }
  return length;
}

// Builds the record again in a scratch record with the new string in the
// target's place, then copies the result back over the record.
EFI_STATUS RebuildStringArea(UINT8 *Record, const RecordTarget &Target, const CHAR8 *Ascii,
                             UINTN AsciiLength) {
  UINTN restOffset = Target.Offset + Target.Length + 1;
  UINTN restSize = Target.RecordSize - restOffset;
  // Appending turns the area's final NUL into the new string's own NUL, so
  // the record needs one more byte for a new final NUL.
  UINTN grownSize = Target.RecordSize - Target.Length + AsciiLength + (restSize == 0 ? 1 : 0);
  if (grownSize > RECORD_BUFFER_SIZE) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *scratch = static_cast<UINT8 *>(AllocateZeroedBuffer(RECORD_BUFFER_SIZE));
  if (scratch == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBuffer(scratch, Record, Target.Offset);
  MoveBuffer(scratch + Target.Offset, Ascii, AsciiLength + 1);
  // Nothing follows when appending; the zero fill then gives the final NUL.
  MoveBuffer(scratch + Target.Offset + AsciiLength + 1, Record + restOffset, restSize);

  UINTN rebuiltSize = 0;
  const VOID *rebuilt = scratch;
  EFI_STATUS status = MeasureSmbiosRecord(rebuilt, &rebuiltSize);
  if (!EFI_ERROR(status)) {
    // Bytes of the buffer past the new end keep what they held.
    MoveBuffer(Record, scratch, rebuiltSize);
  }
  FreeBuffer(scratch);
  return status;
}

}  // namespace

EFI_STATUS MeasureSmbiosRecord(const VOID *const &Record, UINTN *Size) {
  if (Record == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 *bytes = static_cast<const UINT8 *>(Record);
  // The running size always equals the position reached, so one index serves
  // both; every read is checked against the end of the RecordBuffer.
  UINTN at = bytes[1];
  for (;;) {
    *Size = at;
    if (at >= RECORD_BUFFER_SIZE) {
      return EFI_INVALID_PARAMETER;
    }
    if (bytes[at] == 0) {
      at++;
      if (at >= RECORD_BUFFER_SIZE) {
        return EFI_INVALID_PARAMETER;
      }
      if (bytes[at] == 0) {
        *Size = at + 1;
        return EFI_SUCCESS;
      }
      *Size = at;
    }
    UINTN count = 0;
    while (count < RECORD_STRING_LIMIT && at + count < RECORD_BUFFER_SIZE &&
           bytes[at + count] != 0) {
      count++;
    }
    if (count == RECORD_STRING_LIMIT || at + count >= RECORD_BUFFER_SIZE) {
      return EFI_INVALID_PARAMETER;
    }
    at += count;
  }
}

EFI_STATUS ReplaceRecordString(VOID *Record, UINTN StringNumber, const CHAR16 *String) {
  if (Record == nullptr || String == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN wideLength = WideStrLengthBounded(String, NEW_STRING_LENGTH_BOUND);
  if (wideLength >= RECORD_STRING_LIMIT) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *record = static_cast<UINT8 *>(Record);
  RecordTarget target = {};
  EFI_STATUS status = LocateTargetString(record, StringNumber, &target);
  if (EFI_ERROR(status)) {
    return status;
  }

  UINTN copySize = wideLength + 1;
  CHAR8 *ascii = static_cast<CHAR8 *>(AllocateZeroedBuffer(copySize));
  if (ascii == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN asciiLength = NarrowToAscii(String, wideLength, ascii);
  if (asciiLength == target.Length) {
    // Same length: the new string and its NUL go straight over the old.
    MoveBuffer(record + target.Offset, ascii, asciiLength + 1);
  } else {
    status = RebuildStringArea(record, target, ascii, asciiLength);
  }
  FreeBuffer(ascii);
  return status;
}
