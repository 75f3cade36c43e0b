// Line output for the harness report. Lines go straight to the first serial
// port, so the runner reads exactly these bytes, without the terminal escape
// sequences the firmware console would add.
#pragma once

#include "include/uefi_system_table.h"

// Chooses the UART when one answers, else the system table's ConOut.
void ConsoleInit(EFI_SYSTEM_TABLE *SystemTable);

void PutText(const CHAR8 *Text);
void PutTextN(const CHAR8 *Text, UINTN Length);
void PutHex(UINT64 Value, UINTN Digits);
void PutDecimal(UINT64 Value);
void PutNewLine();
void PutGuid(const EFI_GUID &Guid);

// `key=0x...` with a leading space, the form every report field uses.
void PutField(const CHAR8 *Key, UINT64 Value, UINTN Digits);
// A status as 16 hex digits.
void PutStatus(const CHAR8 *Key, EFI_STATUS Status);

// Prints Length bytes as "hex <bytes>" lines of 32 bytes each.
void PutHexDump(const VOID *Data, UINTN Length);
