#include "sim/pci_topology.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "include/guids.h"
#include "sim/platform.h"

namespace sim {

namespace {

PciTopology *gActiveTopology = nullptr;

constexpr size_t kVendorDeviceIdOffset = 0x00;
constexpr size_t kSecondaryBusOffset = 0x19;

// What the platform expects in the descriptor besides bus, device and function.
constexpr uint32_t kDescriptorWord1 = 0;
constexpr uint32_t kDescriptorWord2 = 0x200;
constexpr uint32_t kDescriptorWord3 = 0;
constexpr uint32_t kDescriptorFunctionBits = 0x0FFFF000;

UINTN EFIAPI ConfigSpaceAddressEntry(const PciConfigAddressDescriptor *descriptor) {
  if (gActiveTopology == nullptr) {
    std::fprintf(stderr, "register-access protocol called with no PCI topology active\n");
    std::abort();
  }
  return gActiveTopology->ConfigSpaceAddress(descriptor);
}

void Store32(uint8_t *page, size_t offset, uint32_t value) {
  std::memcpy(page + offset, &value, sizeof(value));
}

std::string FunctionName(unsigned bus, unsigned device, unsigned function) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02X:%02X.%X", bus, device, function);
  return text;
}

}  // namespace

PciTopology::PciTopology() : absent_(NewPage()) {
  std::memset(absent_->bytes, 0xFF, kPageSize);
  wrapper_.protocol.ConfigSpaceAddress = &ConfigSpaceAddressEntry;
  wrapper_.self = this;
  previous_ = gActiveTopology;
  gActiveTopology = this;
}

std::vector<std::unique_ptr<PciTopology::PageChunk>> PciTopology::spareChunks_;

PciTopology::~PciTopology() {
  if (installedOn_ != nullptr) {
    firmware_->UninstallProtocol(installedOn_, gRegisterAccessProtocolGuid);
  }
  gActiveTopology = previous_;
  for (std::unique_ptr<PageChunk> &chunk : chunks_) {
    if (spareChunks_.size() < kSpareChunks) {
      spareChunks_.push_back(std::move(chunk));
    }
  }
}

PciTopology *PciTopology::Active() { return gActiveTopology; }

void PciTopology::Install(Firmware &firmware) {
  if (installedOn_ == nullptr) {
    firmware_ = &firmware;
    installedOn_ = firmware.InstallProtocol(gRegisterAccessProtocolGuid, &wrapper_.protocol);
  }
}

PciTopology::ConfigPage *PciTopology::NewPage() {
  if (pagesInLastChunk_ == kPagesPerChunk || chunks_.empty()) {
    // Not value-initialised: every page is filled when it is handed out.
    if (spareChunks_.empty()) {
      chunks_.emplace_back(new PageChunk);
    } else {
      chunks_.push_back(std::move(spareChunks_.back()));
      spareChunks_.pop_back();
    }
    pagesInLastChunk_ = 0;
  }
  return &chunks_.back()->pages[pagesInLastChunk_++];
}

std::vector<PciTopology::Indexed>::iterator PciTopology::Find(uint32_t key) {
  return std::lower_bound(index_.begin(), index_.end(), key,
                          [](const Indexed &entry, uint32_t wanted) { return entry.key < wanted; });
}

std::vector<PciTopology::Indexed>::const_iterator PciTopology::Find(uint32_t key) const {
  return const_cast<PciTopology *>(this)->Find(key);
}

PciTopology::ConfigPage &PciTopology::PageFor(uint8_t bus, uint8_t device, uint8_t function) {
  uint32_t key = Key(bus, device, function);
  auto found = Find(key);
  if (found != index_.end() && found->key == key) {
    return *found->page;
  }
  ConfigPage *page = NewPage();
  std::memset(page->bytes, 0, kPageSize);
  Store32(page->bytes, kVendorDeviceIdOffset, kDefaultId);
  index_.insert(found, {key, page});
  return *page;
}

void PciTopology::AddFunction(uint8_t bus, uint8_t device, uint8_t function, uint32_t id) {
  Store32(PageFor(bus, device, function).bytes, kVendorDeviceIdOffset, id);
}

void PciTopology::RemoveFunction(uint8_t bus, uint8_t device, uint8_t function) {
  // The page itself stays allocated until the topology goes.
  auto found = Find(Key(bus, device, function));
  if (found != index_.end() && found->key == Key(bus, device, function)) {
    index_.erase(found);
  }
}

void PciTopology::AddBridge(uint8_t bus, uint8_t device, uint8_t secondary) {
  PageFor(bus, device, 0).bytes[kSecondaryBusOffset] = secondary;
}

void PciTopology::SetSocketBusNumbers(unsigned socket, uint32_t word) {
  std::span<const PlatformSocket> sockets = BuiltInPlatform().sockets;
  if (socket >= sockets.size()) return;
  const PlatformSocket &where = sockets[socket];
  Store32(PageFor(where.bus, where.device, where.function).bytes, where.offset, word);
}

bool PciTopology::IsPresent(uint8_t bus, uint8_t device, uint8_t function) const {
  auto found = Find(Key(bus, device, function));
  return found != index_.end() && found->key == Key(bus, device, function);
}

uint8_t *PciTopology::Page(uint8_t bus, uint8_t device, uint8_t function) {
  auto found = Find(Key(bus, device, function));
  return found != index_.end() && found->key == Key(bus, device, function) ? found->page->bytes
                                                                            : nullptr;
}

std::vector<std::string> PciTopology::Requests() const {
  std::vector<std::string> names;
  for (uint32_t key : requests_) {
    names.push_back(FunctionName(key >> 8, (key >> 3) & 0x1F, key & 7));
  }
  return names;
}

void PciTopology::Log(unsigned bus, unsigned device, unsigned function, const char *outcome,
                      const PciConfigAddressDescriptor *descriptor) {
  if (firmware_ == nullptr) {
    return;
  }
  LogEntry &entry = firmware_->log.Add("RegisterAccess.ConfigSpaceAddress", outcome);
  entry.Value(bus).Value(device).Value(function);
  if (descriptor != nullptr) {
    char words[40];
    std::snprintf(words, sizeof(words), "%08X %08X %08X %08X", descriptor->Word[0],
                  descriptor->Word[1], descriptor->Word[2], descriptor->Word[3]);
    entry.Text(words);
  }
}

UINTN PciTopology::ConfigSpaceAddress(const PciConfigAddressDescriptor *descriptor) {
  uint32_t word0 = descriptor->Word[0];
  unsigned bus = (word0 >> 20) & 0xFF;
  unsigned device = (word0 >> 15) & 0x1F;
  unsigned function = (word0 >> 12) & 0x7;
  requests_.push_back(Key(static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                          static_cast<uint8_t>(function)));

  // The platform answers only requests made the way it documents them.
  if ((word0 & ~kDescriptorFunctionBits) != 0 || descriptor->Word[1] != kDescriptorWord1 ||
      descriptor->Word[2] != kDescriptorWord2 || descriptor->Word[3] != kDescriptorWord3) {
    Log(bus, device, function, "({x2}:{x2}.{x}) -> 0 (malformed descriptor {t})", descriptor);
    return 0;
  }
  bool injected = firmware_ != nullptr &&
                  firmware_->faults.Check("RegisterAccess.ConfigSpaceAddress").has_value();
  if (noAddress_ || injected) {
    Log(bus, device, function,
        injected ? "({x2}:{x2}.{x}) -> 0 (no address, injected)" : "({x2}:{x2}.{x}) -> 0 (no address)");
    return 0;
  }
  uint8_t *page =
      Page(static_cast<uint8_t>(bus), static_cast<uint8_t>(device), static_cast<uint8_t>(function));
  if (page == nullptr) {
    Log(bus, device, function, "({x2}:{x2}.{x}) -> absent");
    return reinterpret_cast<UINTN>(absent_->bytes);
  }
  Log(bus, device, function, "({x2}:{x2}.{x}) -> present");
  return reinterpret_cast<UINTN>(page);
}

}  // namespace sim
