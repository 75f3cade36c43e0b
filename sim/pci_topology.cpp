#include "sim/pci_topology.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "include/guids.h"

namespace sim {

namespace {

PciTopology *gActiveTopology = nullptr;

constexpr size_t kVendorDeviceIdOffset = 0x00;
constexpr size_t kSecondaryBusOffset = 0x19;
constexpr size_t kSocketBusNumbersOffset = 0xCC;
constexpr uint8_t kSocketBuses[2] = {0x00, 0x80};
constexpr uint8_t kSocketBusNumbersDevice = 8;
constexpr uint8_t kSocketBusNumbersFunction = 2;

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

PciTopology::PciTopology() : absent_(std::make_unique<ConfigPage>()) {
  std::memset(absent_->bytes, 0xFF, kPageSize);
  wrapper_.protocol.ConfigSpaceAddress = &ConfigSpaceAddressEntry;
  wrapper_.self = this;
  previous_ = gActiveTopology;
  gActiveTopology = this;
}

PciTopology::~PciTopology() {
  if (installedOn_ != nullptr) {
    firmware_->UninstallProtocol(installedOn_, REGISTER_ACCESS_PROTOCOL_GUID);
  }
  gActiveTopology = previous_;
}

PciTopology *PciTopology::Active() { return gActiveTopology; }

void PciTopology::Install(Firmware &firmware) {
  if (installedOn_ == nullptr) {
    firmware_ = &firmware;
    installedOn_ = firmware.InstallProtocol(REGISTER_ACCESS_PROTOCOL_GUID, &wrapper_.protocol);
  }
}

PciTopology::ConfigPage &PciTopology::PageFor(uint8_t bus, uint8_t device, uint8_t function) {
  std::unique_ptr<ConfigPage> &page = pages_[Key(bus, device, function)];
  if (page == nullptr) {
    page = std::make_unique<ConfigPage>();
    std::memset(page->bytes, 0, kPageSize);
    Store32(page->bytes, kVendorDeviceIdOffset, kDefaultId);
  }
  return *page;
}

void PciTopology::AddFunction(uint8_t bus, uint8_t device, uint8_t function, uint32_t id) {
  Store32(PageFor(bus, device, function).bytes, kVendorDeviceIdOffset, id);
}

void PciTopology::RemoveFunction(uint8_t bus, uint8_t device, uint8_t function) {
  pages_.erase(Key(bus, device, function));
}

void PciTopology::AddBridge(uint8_t bus, uint8_t device, uint8_t secondary) {
  PageFor(bus, device, 0).bytes[kSecondaryBusOffset] = secondary;
}

void PciTopology::SetSocketBusNumbers(unsigned socket, uint32_t word) {
  ConfigPage &page =
      PageFor(kSocketBuses[socket & 1], kSocketBusNumbersDevice, kSocketBusNumbersFunction);
  Store32(page.bytes, kSocketBusNumbersOffset, word);
}

bool PciTopology::IsPresent(uint8_t bus, uint8_t device, uint8_t function) const {
  return pages_.count(Key(bus, device, function)) != 0;
}

uint8_t *PciTopology::Page(uint8_t bus, uint8_t device, uint8_t function) {
  auto found = pages_.find(Key(bus, device, function));
  return found == pages_.end() ? nullptr : found->second->bytes;
}

void PciTopology::Log(const std::string &entry) {
  if (firmware_ != nullptr) {
    firmware_->Log(entry);
  }
}

UINTN PciTopology::ConfigSpaceAddress(const PciConfigAddressDescriptor *descriptor) {
  uint32_t word0 = descriptor->Word[0];
  unsigned bus = (word0 >> 20) & 0xFF;
  unsigned device = (word0 >> 15) & 0x1F;
  unsigned function = (word0 >> 12) & 0x7;
  std::string name = FunctionName(bus, device, function);
  requests_.push_back(name);
  std::string entry = "RegisterAccess.ConfigSpaceAddress(" + name + ") -> ";

  // The platform answers only requests made the way it documents them.
  if ((word0 & ~kDescriptorFunctionBits) != 0 || descriptor->Word[1] != kDescriptorWord1 ||
      descriptor->Word[2] != kDescriptorWord2 || descriptor->Word[3] != kDescriptorWord3) {
    char words[64];
    std::snprintf(words, sizeof(words), "malformed descriptor %08X %08X %08X %08X", word0,
                  descriptor->Word[1], descriptor->Word[2], descriptor->Word[3]);
    Log(entry + "0 (" + words + ")");
    return 0;
  }
  bool injected = firmware_ != nullptr &&
                  firmware_->faults.Check("RegisterAccess.ConfigSpaceAddress").has_value();
  if (noAddress_ || injected) {
    Log(entry + "0 (no address" + (injected ? ", injected)" : ")"));
    return 0;
  }
  uint8_t *page =
      Page(static_cast<uint8_t>(bus), static_cast<uint8_t>(device), static_cast<uint8_t>(function));
  if (page == nullptr) {
    Log(entry + "absent");
    return reinterpret_cast<UINTN>(absent_->bytes);
  }
  Log(entry + "present");
  return reinterpret_cast<UINTN>(page);
}

}  // namespace sim
