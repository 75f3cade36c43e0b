// Input level of a PCH GPIO pad, read through the sideband register window.
#pragma once

#include "../include/uefi_base.h"

// Bits 31:24 chipset id, 23:16 group index, 15:0 pad number within the group.
typedef UINT32 GpioPad;

inline constexpr UINT32 GPIO_CHIPSET_ID = 0x01;

// What pad reads use of a group's register description, each field as wide
// as the window lets it be: an 8-bit port id, 16-bit register offsets.
struct GpioGroupDescriptor {
  UINT8 PortId;
  UINT8 PadCount;
  UINT16 PadOwnershipOffset;
  UINT16 PadConfigurationOffset;
};
static_assert(sizeof(GpioGroupDescriptor) == 6);

inline constexpr UINT32 GPIO_GROUP_COUNT = 13;

inline constexpr GpioGroupDescriptor GpioGroupTable[GPIO_GROUP_COUNT] = {
    {0xAF, 24, 0x20, 0x400},  // group 0
    {0xAF, 24, 0x2C, 0x4C0},  // group 1
    {0xAE, 24, 0x20, 0x400},  // group 2
    {0xAE, 24, 0x2C, 0x4C0},  // group 3
    {0xAE, 13, 0x38, 0x580},  // group 4
    {0xAF, 24, 0x38, 0x580},  // group 5
    {0x11, 24, 0x20, 0x400},  // group 6
    {0x11, 24, 0x2C, 0x4C0},  // group 7
    {0xAC, 11, 0x20, 0x400},  // group 8
    {0xAB, 24, 0x20, 0x400},  // group 9
    {0xAB, 11, 0x2C, 0x4C0},  // group 10
    {0x11, 20, 0x38, 0x580},  // group 11
    {0xAD, 12, 0x20, 0x400},  // group 12
};

// The pad's input state as bit 1 of the value: 0 (low) or 2 (high).
inline constexpr UINT32 GPIO_PAD_INPUT_STATE = 0x2;

// Which agent owns the pad (0 = the host), 0 to 3. The chipset id is not
// checked. On failure *Owner is left as it was.
EFI_STATUS ReadGpioPadOwner(GpioPad Pad, UINT32 *Owner);

// The pad's input state, 0 or 2 (shift right by one for the level). Refuses
// other chipsets and pads the host does not own with EFI_UNSUPPORTED, pads
// that do not exist with EFI_INVALID_PARAMETER; *Value is then left as it was.
EFI_STATUS ReadGpioPadInput(GpioPad Pad, UINT32 *Value);
