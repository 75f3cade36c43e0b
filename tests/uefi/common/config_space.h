// The harness's register-access protocol: maps a PCI function to the address
// of its configuration space in the firmware's memory-mapped (ECAM) window,
// except the socket bus-number functions (device 8, function 2 of buses 0 and
// 0x80), which the board under test would have and QEMU has not: those are
// served from pages of the harness's own.
#pragma once

#include "include/register_access.h"
#include "include/uefi_system_table.h"

inline constexpr UINTN CONFIG_PAGE_SIZE = 0x1000;
inline constexpr UINTN SOCKET_BUS_WORD_OFFSET = 0xCC;

struct ConfigSpaceMap {
  UINT64 EcamBase;  // address of bus 0 in the window (the MCFG base for start bus 0)
  UINT8 StartBus;
  UINT8 EndBus;
  UINTN SocketPage[2];  // served for 00:08.2 and 80:08.2
  UINTN AbsentPage;     // all ones: what an absent function reads as
};

// Pure mapping, host-testable: descriptor word 0 to an address.
UINTN MapConfigAddress(const ConfigSpaceMap &Map, UINT32 DescriptorWord0);

// Fills a socket page: a present function at 0x00, the word at 0xCC, zeros
// elsewhere; and the absent page with all ones.
void FillSocketPage(UINT8 *Page, UINT32 SocketWord);
void FillAbsentPage(UINT8 *Page);

// Puts a map in force for ConfigAddress. The map is copied.
void UseConfigSpaceMap(const ConfigSpaceMap &Map);

// Puts the map in force and installs the protocol on a new handle.
EFI_STATUS InstallRegisterAccess(EFI_BOOT_SERVICES *BootServices, const ConfigSpaceMap &Map);

// Address of a function's configuration space through the installed map.
UINTN ConfigAddress(UINT8 Bus, UINT8 Device, UINT8 Function);
