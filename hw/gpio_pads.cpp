#include "gpio_pads.h"

#include "sideband.h"

namespace {

// Ownership: 4 bits per pad, 8 pads per register, only the low 2 bits used.
constexpr UINT32 PADS_PER_OWNERSHIP_REGISTER = 8;
constexpr UINT32 OWNERSHIP_BITS_PER_PAD = 4;
constexpr UINT32 OWNERSHIP_MASK = 0x3;
constexpr UINT32 REGISTER_BYTES = 4;
// Each pad's configuration takes two words; the input state is in the first.
constexpr UINT32 PAD_CONFIGURATION_STRIDE = 8;

constexpr UINT32 HOST_OWNED = 0;

constexpr UINT32 PadChipset(GpioPad Pad) { return Pad >> 24; }
constexpr UINT32 PadGroup(GpioPad Pad) { return (Pad >> 16) & 0xFF; }
constexpr UINT32 PadNumber(GpioPad Pad) { return Pad & 0xFFFF; }

// The group's row, or null when the group or the pad number does not exist.
const GpioGroupDescriptor *PadGroupDescriptor(GpioPad Pad) {
  if (PadGroup(Pad) >= GPIO_GROUP_COUNT) {
    return nullptr;
  }
  const GpioGroupDescriptor *group = &GpioGroupTable[PadGroup(Pad)];
  if (PadNumber(Pad) >= group->PadCount) {
    return nullptr;
  }
  return group;
}

// Register offsets are 16 bits wide in the window; the sums wrap there.
UINT32 ReadGroupRegister(const GpioGroupDescriptor *Group, UINT32 Offset) {
  return ReadSidebandRegister32(
      SidebandRegisterAddress(Group->PortId, static_cast<UINT16>(Offset)));
}

// The pad's owner from its group's ownership register.
UINT32 PadOwner(const GpioGroupDescriptor *Group, UINT32 Pad) {
  UINT32 offset = Group->PadOwnershipOffset + (Pad / PADS_PER_OWNERSHIP_REGISTER) * REGISTER_BYTES;
  UINT32 shift = (Pad % PADS_PER_OWNERSHIP_REGISTER) * OWNERSHIP_BITS_PER_PAD;
  return (ReadGroupRegister(Group, offset) >> shift) & OWNERSHIP_MASK;
}

}  // namespace

EFI_STATUS ReadGpioPadOwner(GpioPad Pad, UINT32 *Owner) {
  const GpioGroupDescriptor *group = PadGroupDescriptor(Pad);
  if (group == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Owner = PadOwner(group, PadNumber(Pad));
  return EFI_SUCCESS;
}

EFI_STATUS ReadGpioPadInput(GpioPad Pad, UINT32 *Value) {
  if (PadChipset(Pad) != GPIO_CHIPSET_ID) {
    return EFI_UNSUPPORTED;
  }
  const GpioGroupDescriptor *group = PadGroupDescriptor(Pad);
  if (group == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (PadOwner(group, PadNumber(Pad)) != HOST_OWNED) {
    return EFI_UNSUPPORTED;
  }
  UINT32 offset = group->PadConfigurationOffset + PadNumber(Pad) * PAD_CONFIGURATION_STRIDE;
  *Value = ReadGroupRegister(group, offset) & GPIO_PAD_INPUT_STATE;
  return EFI_SUCCESS;
}
