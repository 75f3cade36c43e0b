// The harness's SMBIOS report: the published table after the driver ran, and
// probes of the protocol itself.
#pragma once

#include "include/pi_smbios.h"
#include "tests/uefi/common/earlier_records.h"

// Entry points and structure tables of the SMBIOS and SMBIOS3 configuration tables.
void DumpSmbiosTables(const FirmwareContext &Context);

// Exercises Add, Remove, GetNext and UpdateString in corner cases, printing
// what this firmware answers. Leaves records of type 0xC0 behind.
void ProbeSmbiosProtocol(EFI_SMBIOS_PROTOCOL *Smbios);
