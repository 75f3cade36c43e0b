// Input level of a PCH GPIO pad, read through the sideband register window.
#pragma once

#include "../include/uefi_base.h"

// Bits 31:24 chipset id, 23:16 group index, 15:0 pad number within the group.
typedef UINT32 GpioPad;

inline constexpr UINT32 GPIO_CHIPSET_ID = 0x01;

// The four words of a group's register description that pad reads use.
struct GpioGroupDescriptor {
  UINT32 PortId;
  UINT32 PadOwnershipOffset;
  UINT32 PadConfigurationOffset;
  UINT32 PadCount;
};

inline constexpr UINT32 GPIO_GROUP_COUNT = 13;

inline constexpr GpioGroupDescriptor GpioGroupTable[GPIO_GROUP_COUNT] = {
    {0xAF, 0x20, 0x400, 24},  // group 0
    {0xAF, 0x2C, 0x4C0, 24},  // group 1
    {0xAE, 0x20, 0x400, 24},  // group 2
    {0xAE, 0x2C, 0x4C0, 24},  // group 3
    {0xAE, 0x38, 0x580, 13},  // group 4
    {0xAF, 0x38, 0x580, 24},  // group 5
    {0x11, 0x20, 0x400, 24},  // group 6
    {0x11, 0x2C, 0x4C0, 24},  // group 7
    {0xAC, 0x20, 0x400, 11},  // group 8
    {0xAB, 0x20, 0x400, 24},  // group 9
    {0xAB, 0x2C, 0x4C0, 11},  // group 10
    {0x11, 0x38, 0x580, 20},  // group 11
    {0xAD, 0x20, 0x400, 12},  // group 12
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
