// Records an earlier SMBIOS producer would have added before the driver runs,
// built from the scenario, the scratch buffer records are assembled in, and
// the report of what the protocol holds.
#pragma once

#include "include/pi_smbios.h"
#include "tests/uefi/common/firmware_access.h"
#include "tests/uefi/common/scenario.h"

// Large enough for any record the test code builds (formatted area, strings).
inline constexpr UINTN RECORD_SCRATCH_SIZE = 512;

struct RecordScratch {
  UINT8 Bytes[RECORD_SCRATCH_SIZE];
  UINTN Length;
};

// Clears the scratch and writes a record header: Type, FormattedLength, and
// the handle left for the protocol to assign.
void StartScratchRecord(UINT8 Type, UINT8 FormattedLength, RecordScratch *Scratch);
EFI_STATUS AddScratch(EFI_SMBIOS_PROTOCOL *Smbios, RecordScratch *Scratch,
                      EFI_SMBIOS_HANDLE *Handle);

EFI_SMBIOS_PROTOCOL *LocateSmbios(const FirmwareContext &Context);

// Adds the scenario's earlier records through the protocol, as another
// producer would, and prints each outcome.
void AddEarlierRecords(const FirmwareContext &Context, const Scenario &Plan);

// One "record" line per record the protocol walks, in its order.
void ReportProtocolRecords(EFI_SMBIOS_PROTOCOL *Smbios);

// A "records phase=Phase" line, then the records.
void ReportRecords(const CHAR8 *Phase, EFI_SMBIOS_PROTOCOL *Smbios);
