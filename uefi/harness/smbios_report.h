// The harness's SMBIOS work: earlier producers' records before the driver
// runs, the published table afterwards, and probes of the protocol itself.
#pragma once

#include "include/pi_smbios.h"
#include "uefi/harness/platform.h"
#include "uefi/harness/scenario.h"

EFI_SMBIOS_PROTOCOL *LocateSmbios(const HarnessContext &Context);

// Adds the scenario's earlier records through the protocol, as another
// producer would, and prints each outcome.
void AddEarlierRecords(const HarnessContext &Context, const Scenario &Plan);

// One "record" line per record the protocol walks, in its order.
void ReportProtocolRecords(EFI_SMBIOS_PROTOCOL *Smbios);

// Entry points and structure tables of the SMBIOS and SMBIOS3 configuration tables.
void DumpSmbiosTables(const HarnessContext &Context);

// Exercises Add, Remove, GetNext and UpdateString in corner cases, printing
// what this firmware answers. Leaves records of type 0xC0 behind.
void ProbeSmbiosProtocol(EFI_SMBIOS_PROTOCOL *Smbios);
