// The harness's register-access protocol: maps a PCI function to the address
// of its configuration space in the firmware's memory-mapped (ECAM) window,
// except the functions holding the sockets' bus-number words, which the board
// under test has and QEMU has not: those are served from pages of the
// harness's own, one per function, wherever the scenario puts them.
#pragma once

#include "include/register_access.h"
#include "include/uefi_system_table.h"
#include "tests/uefi/common/scenario.h"

inline constexpr UINTN CONFIG_PAGE_SIZE = 0x1000;

struct ServedFunction {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
  UINTN Page;
};

struct ConfigSpaceMap {
  UINT64 EcamBase;  // address of bus 0 in the window (the MCFG base for start bus 0)
  UINT8 StartBus;
  UINT8 EndBus;
  UINTN ServedCount;
  ServedFunction Served[SCENARIO_SOCKET_LIMIT];  // the socket functions
  UINTN AbsentPage;                              // all ones: what an absent function reads as
};

// Pure mapping, host-testable: descriptor word 0 to an address.
UINTN MapConfigAddress(const ConfigSpaceMap &Map, UINT32 DescriptorWord0);

// Lays the scenario's socket functions out over Pages (SCENARIO_SOCKET_LIMIT
// pages of CONFIG_PAGE_SIZE at PagesBase): one page per distinct function, a
// present function at 0x00 and each word at its offset, zeros elsewhere; two
// sockets may share a function. Fills the absent page with all ones.
void ServeSocketFunctions(const Scenario &Plan, UINTN PagesBase, UINTN AbsentPage, ConfigSpaceMap *Map);

// Puts a map in force for ConfigAddress. The map is copied.
void UseConfigSpaceMap(const ConfigSpaceMap &Map);

// Puts the map in force and installs the protocol on a new handle.
EFI_STATUS InstallRegisterAccess(EFI_BOOT_SERVICES *BootServices, const ConfigSpaceMap &Map);

// Address of a function's configuration space through the installed map.
UINTN ConfigAddress(UINT8 Bus, UINT8 Device, UINT8 Function);
