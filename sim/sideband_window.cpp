#include "sim/sideband_window.h"

#include <algorithm>
#include <iterator>

#include "hw/sideband.h"

namespace sim {

namespace {

SidebandWindow *gActiveWindow = nullptr;

// The PCH's GPIO group layout as the hardware has it (kept apart from the
// driver's table on purpose, so a wrong value there shows up here).
struct GroupLayout {
  uint8_t port;
  uint16_t ownership;
  uint16_t configuration;
  uint16_t pads;
};

constexpr GroupLayout kGroups[] = {
    {0xAF, 0x20, 0x400, 24}, {0xAF, 0x2C, 0x4C0, 24}, {0xAE, 0x20, 0x400, 24},
    {0xAE, 0x2C, 0x4C0, 24}, {0xAE, 0x38, 0x580, 13}, {0xAF, 0x38, 0x580, 24},
    {0x11, 0x20, 0x400, 24}, {0x11, 0x2C, 0x4C0, 24}, {0xAC, 0x20, 0x400, 11},
    {0xAB, 0x20, 0x400, 24}, {0xAB, 0x2C, 0x4C0, 11}, {0x11, 0x38, 0x580, 20},
    {0xAD, 0x20, 0x400, 12},
};

constexpr uint32_t kInputStateBit = 1u << 1;
constexpr uint32_t kOwnershipFieldMask = 0xF;

const GroupLayout *PadGroup(uint32_t pad) {
  uint32_t chipset = pad >> 24;
  uint32_t group = (pad >> 16) & 0xFF;
  uint32_t number = pad & 0xFFFF;
  if (chipset != 0x01 || group >= std::size(kGroups) || number >= kGroups[group].pads) {
    return nullptr;
  }
  return &kGroups[group];
}

uint16_t OwnershipOffset(const GroupLayout &group, uint32_t number) {
  return static_cast<uint16_t>(group.ownership + (number / 8) * 4);
}

uint16_t ConfigurationOffset(const GroupLayout &group, uint32_t number) {
  return static_cast<uint16_t>(group.configuration + number * 8);
}

}  // namespace

SidebandWindow::SidebandWindow(Firmware *firmware) : firmware_(firmware) {
  previous_ = gActiveWindow;
  gActiveWindow = this;
}

SidebandWindow::~SidebandWindow() { gActiveWindow = previous_; }

SidebandWindow *SidebandWindow::Active() { return gActiveWindow; }

namespace {

uint32_t RegisterKey(uint8_t port, uint16_t offset) { return uint32_t{port} << 16 | offset; }

}  // namespace

void SidebandWindow::SetRegister(uint8_t port, uint16_t offset, uint32_t value) {
  uint32_t key = RegisterKey(port, offset);
  auto found = std::lower_bound(registers_.begin(), registers_.end(), key,
                                [](const Stored &stored, uint32_t wanted) { return stored.key < wanted; });
  if (found != registers_.end() && found->key == key) {
    found->value = value;
  } else {
    registers_.insert(found, {key, value});
  }
}

uint32_t SidebandWindow::Register(uint8_t port, uint16_t offset) const {
  uint32_t key = RegisterKey(port, offset);
  auto found = std::lower_bound(registers_.begin(), registers_.end(), key,
                                [](const Stored &stored, uint32_t wanted) { return stored.key < wanted; });
  return found != registers_.end() && found->key == key ? found->value : 0;
}

uint64_t SidebandWindow::PadOwnershipAddress(uint32_t pad) {
  const GroupLayout *group = PadGroup(pad);
  return group == nullptr ? 0 : Address(group->port, OwnershipOffset(*group, pad & 0xFFFF));
}

uint64_t SidebandWindow::PadConfigurationAddress(uint32_t pad) {
  const GroupLayout *group = PadGroup(pad);
  return group == nullptr ? 0 : Address(group->port, ConfigurationOffset(*group, pad & 0xFFFF));
}

unsigned SidebandWindow::PadOwnershipShift(uint32_t pad) { return (pad & 0xFFFF) % 8 * 4; }

bool SidebandWindow::SetPad(uint32_t pad, int level, int owner) {
  const GroupLayout *group = PadGroup(pad);
  if (group == nullptr) {
    return false;
  }
  uint32_t number = pad & 0xFFFF;

  uint16_t ownershipOffset = OwnershipOffset(*group, number);
  unsigned shift = PadOwnershipShift(pad);
  uint32_t ownership = Register(group->port, ownershipOffset);
  ownership &= ~(kOwnershipFieldMask << shift);
  ownership |= (static_cast<uint32_t>(owner) & 0x3) << shift;
  SetRegister(group->port, ownershipOffset, ownership);

  uint16_t configurationOffset = ConfigurationOffset(*group, number);
  uint32_t configuration = Register(group->port, configurationOffset);
  configuration = level != 0 ? (configuration | kInputStateBit) : (configuration & ~kInputStateBit);
  SetRegister(group->port, configurationOffset, configuration);
  return true;
}

int SidebandWindow::PadLevel(uint32_t pad) const {
  if (PadGroup(pad) == nullptr) return 0;
  return (PeekAddress(PadConfigurationAddress(pad)) & kInputStateBit) != 0 ? 1 : 0;
}

void SidebandWindow::SetRiserStraps(const StrapIds &ids) {
  std::span<const PlatformRiserPosition> positions = BuiltInPlatform().risers;
  for (size_t i = 0; i < positions.size() && i < ids.size(); i++) {
    const PlatformRiserPosition &position = positions[i];
    unsigned id = ids[i].value_or(position.noCard.value_or(0));
    for (size_t k = 0; k < position.pads.size(); k++) {
      SetPad(position.pads[k], static_cast<int>((id >> (position.pads.size() - 1 - k)) & 1), 0);
    }
  }
}

uint32_t SidebandWindow::PeekAddress(uint64_t address) const {
  return Register(static_cast<uint8_t>(address >> 16), static_cast<uint16_t>(address));
}

std::vector<unsigned> SidebandWindow::RiserIdentifiers() const {
  std::vector<unsigned> ids;
  for (const PlatformRiserPosition &position : BuiltInPlatform().risers) {
    unsigned bits = 0;
    for (uint32_t pad : position.pads) {
      unsigned owner = (PeekAddress(PadOwnershipAddress(pad)) >> PadOwnershipShift(pad)) & 3;
      unsigned level = owner == 0 ? (PeekAddress(PadConfigurationAddress(pad)) >> 1) & 1 : 0;
      bits = (bits << 1) | level;
    }
    ids.push_back(bits);
  }
  return ids;
}

uint32_t SidebandWindow::Read(uint64_t address) {
  reads_.push_back(address);
  uint32_t value = 0;
  bool inWindow = (address & ~uint64_t{0xFFFFFF}) == kBase;
  if (inWindow) {
    value = Register(static_cast<uint8_t>(address >> 16), static_cast<uint16_t>(address));
  }
  if (firmware_ != nullptr) {
    firmware_->log
        .Add("Sideband.Read",
             inWindow ? "(0x{x8}) -> 0x{x8}" : "(0x{x8}) -> 0x{x8} (outside the window)")
        .Value(address)
        .Value(value);
  }
  if (afterRead_) {
    afterRead_(*this, reads_.size());
  }
  return value;
}

}  // namespace sim

// The host's sideband window is the simulator's active one.
UINT32 ReadSidebandRegister32(UINT64 PhysicalAddress) {
  sim::SidebandWindow *window = sim::SidebandWindow::Active();
  return window == nullptr ? 0 : window->Read(PhysicalAddress);
}
