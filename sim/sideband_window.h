// The PCH sideband register window at 0xFD000000: a register file keyed by
// port id and 16-bit register offset, with the GPIO pad registers a board's
// straps drive.
//
// One window is active at a time (the most recently constructed one still
// alive). The host's ReadSidebandRegister32 reads the active window; with no
// window active it returns 0, as an unbacked window does under QEMU, so pads
// read host-owned and low.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/firmware.h"
#include "sim/platform.h"

namespace sim {

class SidebandWindow {
 public:
  static constexpr uint64_t kBase = 0xFD000000;

  // Reads are logged into `firmware`'s log when one is given.
  explicit SidebandWindow(Firmware *firmware = nullptr);
  ~SidebandWindow();
  SidebandWindow(const SidebandWindow &) = delete;
  SidebandWindow &operator=(const SidebandWindow &) = delete;

  // The active window, or null.
  static SidebandWindow *Active();

  static uint64_t Address(uint8_t port, uint16_t offset) {
    return kBase | (static_cast<uint64_t>(port) << 16) | offset;
  }

  void SetRegister(uint8_t port, uint16_t offset, uint32_t value);
  // Registers nobody set read 0.
  uint32_t Register(uint8_t port, uint16_t offset) const;

  // Drives a GPIO pad (chipset 0x01, group, pad number): its input state
  // (level 0 or 1) and its owner (0 host, 1 to 3 other agents). False, and
  // nothing changed, when the pad does not exist.
  bool SetPad(uint32_t pad, int level, int owner);
  // A pad's input state as last set (0 for a pad never set or not existing), without a logged read.
  int PadLevel(uint32_t pad) const;
  // Register addresses of a pad, from this model's own copy of the PCH's
  // group layout; 0 when the pad does not exist.
  static uint64_t PadOwnershipAddress(uint32_t pad);
  static uint64_t PadConfigurationAddress(uint32_t pad);
  static unsigned PadOwnershipShift(uint32_t pad);

  // The platform's strap wiring (BuiltInPlatform()): each riser position's
  // pads set host-owned from its identifier, in the platform's order of
  // positions; a position not given gets its noCard identifier.
  void SetRiserStraps(const StrapIds &ids);

  // The identifier of each of the platform's positions as its straps present
  // it now, decoded by this model (a pad not owned by the host counts 0),
  // without a logged read.
  std::vector<unsigned> RiserIdentifiers() const;

  // A 32-bit load at a physical address; logged. Addresses outside the
  // window read 0.
  uint32_t Read(uint64_t address);

  // Called after every read with the number of reads so far: straps that
  // change while the driver runs (a card seated mid-boot, a bouncing pad).
  void SetAfterRead(std::function<void(SidebandWindow &, size_t)> hook) {
    afterRead_ = std::move(hook);
  }

  // Every address read, in order.
  const std::vector<uint64_t> &Reads() const { return reads_; }
  void ClearReads() { reads_.clear(); }

 private:
  uint32_t PeekAddress(uint64_t address) const;

  Firmware *firmware_;
  // Registers that were ever set, ordered by port and offset.
  struct Stored {
    uint32_t key;  // port << 16 | offset
    uint32_t value;
  };
  std::vector<Stored> registers_;
  std::vector<uint64_t> reads_;
  SidebandWindow *previous_ = nullptr;
  std::function<void(SidebandWindow &, size_t)> afterRead_;
};

}  // namespace sim
