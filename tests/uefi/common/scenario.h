// The test platform's scenario: a few `key=value` lines written by the runner,
// in SCENARIO.TXT on the harness's boot volume, or handed to the firmware as
// the fw_cfg file opt/slotinv/scenario for the test platform's DXE driver.
//
//   name=<text>              scenario name, echoed in the report
//   socket=<b>,<d>,<f>,<o>,<word>
//                            a socket's bus-number word, served at offset <o>
//                            of function <b>:<d>.<f>'s configuration space,
//                            which the board has and QEMU has not (up to four)
//   window=<device>          bus-0 device number of the shared-memory device
//                            that backs the sideband window (absent: unbacked)
//   sideband=<address>       a sideband register to show once the window is
//                            backed: the platform's strap pads' registers
//   platformlang=<code>|-    set PlatformLang to <code>, or delete it with "-"
//   smbios=<type>[:s1|s2..]  an earlier record of that type, with its strings
//   probes=1                 after the dump, probe the SMBIOS protocol itself
//   report=1                 the harness only reports: the platform driver set
//                            the machine up and the firmware ran the driver
//   driver=<GUID>            the driver's file GUID (8-4-4-4-12 hex digits): the
//                            name the harness loads it under, finds it by among
//                            the loaded images and reads its package list by
//
// Numbers are decimal or 0x-prefixed hex. '#' starts a comment line; unknown
// keys are ignored so older harnesses read newer files.
#pragma once

#include "include/uefi_base.h"

inline constexpr UINTN SCENARIO_TEXT_LIMIT = 64;
inline constexpr UINTN SCENARIO_RECORD_LIMIT = 8;
// A platform has at most four sockets and 32 strap pads, each with an
// ownership and a configuration register.
inline constexpr UINTN SCENARIO_SOCKET_LIMIT = 4;
inline constexpr UINTN SCENARIO_SIDEBAND_LIMIT = 64;

enum class LanguageAction : UINT8 { Keep, Set, Delete };

struct EarlierRecord {
  UINT8 Type;
  // Strings separated by NUL, the area ending in two NULs (an empty area: two NULs).
  CHAR8 Strings[SCENARIO_TEXT_LIMIT + 2];
  UINTN StringsLength;  // bytes of the area including its final double NUL
};

// Where a socket's bus-number word is read, and the word.
struct SocketWord {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
  UINT8 Offset;
  UINT32 Word;
};

struct Scenario {
  CHAR8 Name[SCENARIO_TEXT_LIMIT];
  UINTN SocketCount;
  SocketWord Sockets[SCENARIO_SOCKET_LIMIT];
  bool HasWindow;
  UINT8 WindowDevice;
  LanguageAction Language;
  CHAR8 PlatformLang[SCENARIO_TEXT_LIMIT];
  UINTN RecordCount;
  EarlierRecord Records[SCENARIO_RECORD_LIMIT];
  UINTN SidebandCount;
  UINT32 SidebandRegisters[SCENARIO_SIDEBAND_LIMIT];
  bool Probes;
  bool ReportOnly;
  bool HasDriver;
  EFI_GUID DriverFileGuid;
  UINTN RejectedLines;  // lines whose value could not be read
};

// Parses Length bytes of scenario text into a value-initialised Scenario ({}).
void ParseScenario(const CHAR8 *Text, UINTN Length, Scenario *Out);
