// The test platform's scenario: a few `key=value` lines written by the runner,
// in SCENARIO.TXT on the harness's boot volume, or handed to the firmware as
// the fw_cfg file opt/slotinv/scenario for the test platform's DXE driver.
//
//   name=<text>              scenario name, echoed in the report
//   socket0=<number>         socket bus-number word served at 00:08.2 offset 0xCC
//   socket1=<number>         the same for bus 0x80
//   window=<device>          bus-0 device number of the shared-memory device
//                            that backs the sideband window (absent: unbacked)
//   platformlang=<code>|-    set PlatformLang to <code>, or delete it with "-"
//   smbios=<type>[:s1|s2..]  an earlier record of that type, with its strings
//   probes=1                 after the dump, probe the SMBIOS protocol itself
//   report=1                 the harness only reports: the platform driver set
//                            the machine up and the firmware ran the driver
//   driver=<GUID>            the driver's file GUID (8-4-4-4-12 hex digits): the
//                            name the harness loads it under, finds it by among
//                            the loaded images and reads its package list by;
//                            absent: this board's driver
//
// Numbers are decimal or 0x-prefixed hex. '#' starts a comment line; unknown
// keys are ignored so older harnesses read newer files.
#pragma once

#include "include/guids.h"
#include "include/uefi_base.h"

inline constexpr UINTN SCENARIO_TEXT_LIMIT = 64;
inline constexpr UINTN SCENARIO_RECORD_LIMIT = 8;

enum class LanguageAction : UINT8 { Keep, Set, Delete };

struct EarlierRecord {
  UINT8 Type;
  // Strings separated by NUL, the area ending in two NULs (an empty area: two NULs).
  CHAR8 Strings[SCENARIO_TEXT_LIMIT + 2];
  UINTN StringsLength;  // bytes of the area including its final double NUL
};

struct Scenario {
  CHAR8 Name[SCENARIO_TEXT_LIMIT];
  UINT32 SocketWord[2];
  bool HasWindow;
  UINT8 WindowDevice;
  LanguageAction Language;
  CHAR8 PlatformLang[SCENARIO_TEXT_LIMIT];
  UINTN RecordCount;
  EarlierRecord Records[SCENARIO_RECORD_LIMIT];
  bool Probes;
  bool ReportOnly;
  EFI_GUID DriverFileGuid = SLOT_INVENTORY_DRIVER_FILE_GUID;
  UINTN RejectedLines;  // lines whose value could not be read
};

// Parses Length bytes of scenario text into a value-initialised Scenario ({}).
void ParseScenario(const CHAR8 *Text, UINTN Length, Scenario *Out);
