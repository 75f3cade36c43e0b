// PCI configuration space of the board and the platform's register-access
// protocol that maps a function to it.
//
// Every function that answers has a 4 KiB configuration page of its own in
// host memory; every other function maps to one shared page of all ones, as a
// read of a function that does not answer returns. The protocol's member
// carries no pointer to its instance, so it answers from the active topology
// (the most recently constructed one still alive), as boot services answer
// from the active Firmware.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "include/register_access.h"
#include "sim/firmware.h"

namespace sim {

class PciTopology {
 public:
  static constexpr size_t kPageSize = 4096;
  // Vendor and device id given to functions added without one.
  static constexpr uint32_t kDefaultId = 0x0D158086;

  PciTopology();
  ~PciTopology();
  PciTopology(const PciTopology &) = delete;
  PciTopology &operator=(const PciTopology &) = delete;

  static PciTopology *Active();

  // Puts the protocol in the firmware's protocol database (construct the
  // topology after the firmware, so it is uninstalled first); its requests are
  // then logged in that firmware's log and its fault plan can fail them
  // ("RegisterAccess.ConfigSpaceAddress": the k-th request gives no address).
  void Install(Firmware &firmware);
  RegisterAccessProtocol *Protocol() { return &wrapper_.protocol; }

  // A function that answers, with the vendor/device id word at 0x00.
  void AddFunction(uint8_t bus, uint8_t device, uint8_t function, uint32_t id = kDefaultId);
  void RemoveFunction(uint8_t bus, uint8_t device, uint8_t function);
  // A root port: function 0 of (bus, device), answering, with its Secondary
  // Bus Number at 0x19.
  void AddBridge(uint8_t bus, uint8_t device, uint8_t secondary);
  // The socket's bus-number word where the platform (BuiltInPlatform()) has
  // it; that function answers from then on. A socket the platform does not
  // have is ignored.
  void SetSocketBusNumbers(unsigned socket, uint32_t word);

  bool IsPresent(uint8_t bus, uint8_t device, uint8_t function) const;
  // The function's page, or null when it does not answer.
  uint8_t *Page(uint8_t bus, uint8_t device, uint8_t function);
  const uint8_t *AbsentPage() const { return absent_->bytes; }

  // The member gives no address (0) for every request while set.
  void SetNoAddress(bool none) { noAddress_ = none; }

  // The functions asked for, in order, as "bb:dd.f".
  std::vector<std::string> Requests() const;

  // The protocol member.
  UINTN ConfigSpaceAddress(const PciConfigAddressDescriptor *descriptor);

  struct Wrapper {
    RegisterAccessProtocol protocol;
    PciTopology *self;
  };

 private:
  struct alignas(kPageSize) ConfigPage {
    uint8_t bytes[kPageSize];
  };
  // Pages come sixteen to an allocation: a board has a few dozen functions,
  // and one aligned allocation each cost more than the rest of a run's set-up.
  static constexpr size_t kPagesPerChunk = 16;
  struct PageChunk {
    ConfigPage pages[kPagesPerChunk];
  };
  // Function (as Key() gives it) to its page, ordered by key.
  struct Indexed {
    uint32_t key;
    ConfigPage *page;
  };
  ConfigPage *NewPage();
  // Chunks of topologies gone, for the next: fresh memory each run (which the
  // address sanitizer's quarantine makes truly fresh) cost more than the run.
  static constexpr size_t kSpareChunks = 8;
  static std::vector<std::unique_ptr<PageChunk>> spareChunks_;
  std::vector<Indexed>::iterator Find(uint32_t key);
  std::vector<Indexed>::const_iterator Find(uint32_t key) const;
  static uint32_t Key(uint8_t bus, uint8_t device, uint8_t function) {
    return (uint32_t{bus} << 8) | (uint32_t{device} << 3) | function;
  }
  ConfigPage &PageFor(uint8_t bus, uint8_t device, uint8_t function);
  // Logs a request in the firmware's log: `outcome` is the entry's form, the
  // descriptor's words its text when given.
  void Log(unsigned bus, unsigned device, unsigned function, const char *outcome,
           const PciConfigAddressDescriptor *descriptor = nullptr);

  Wrapper wrapper_{};
  std::vector<std::unique_ptr<PageChunk>> chunks_;
  size_t pagesInLastChunk_ = 0;
  std::vector<Indexed> index_;
  ConfigPage *absent_;
  std::vector<uint32_t> requests_;  // as Key() gives them
  Firmware *firmware_ = nullptr;
  EFI_HANDLE installedOn_ = nullptr;
  bool noAddress_ = false;
  PciTopology *previous_ = nullptr;
};

}  // namespace sim
