// The PCH sideband register window: a fixed memory-mapped range through which
// the PCH's private registers (the GPIO pads among them) are read.
#pragma once

#include "../include/uefi_base.h"

inline constexpr UINT64 PCH_SIDEBAND_WINDOW_BASE = 0xFD000000;
inline constexpr UINT32 PCH_SIDEBAND_PORT_SHIFT = 16;

// Physical address of a register: the port id selects a 64 KiB slice of the
// window, the 16-bit register offset a word inside it.
constexpr UINT64 SidebandRegisterAddress(UINT8 PortId, UINT16 Offset) {
  return PCH_SIDEBAND_WINDOW_BASE | (static_cast<UINT64>(PortId) << PCH_SIDEBAND_PORT_SHIFT) |
         Offset;
}

// One 32-bit load from the window; every sideband register read goes through
// here. The image maps it onto the physical address; a host build supplies
// its own model of the window.
UINT32 ReadSidebandRegister32(UINT64 PhysicalAddress);
