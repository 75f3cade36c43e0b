#include "sim/firmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "include/guids.h"
#include "sim/status_names.h"

namespace sim {

namespace {

Firmware *gActive = nullptr;

struct NamedGuid {
  const EFI_GUID *guid;
  const char *name;
};

const NamedGuid kKnownGuids[] = {
    {&EFI_LOADED_IMAGE_PROTOCOL_GUID, "LoadedImage"},
    {&EFI_SMBIOS_PROTOCOL_GUID, "Smbios"},
    {&EFI_HII_STRING_PROTOCOL_GUID, "HiiString"},
    {&EFI_HII_DATABASE_PROTOCOL_GUID, "HiiDatabase"},
    {&EFI_GLOBAL_VARIABLE_GUID, "GlobalVariable"},
    {&REGISTER_ACCESS_PROTOCOL_GUID, "RegisterAccess"},
};

// Entry points in the tables: tiny forwarders into the active firmware.
EFI_STATUS EFIAPI AllocatePoolEntry(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  return Firmware::Active().AllocatePool(type, size, buffer);
}
EFI_STATUS EFIAPI FreePoolEntry(VOID *buffer) { return Firmware::Active().FreePool(buffer); }
EFI_STATUS EFIAPI HandleProtocolEntry(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface) {
  return Firmware::Active().HandleProtocol(handle, guid, interface);
}
EFI_STATUS EFIAPI LocateProtocolEntry(const EFI_GUID *guid, VOID *registration,
                                      VOID **interface) {
  return Firmware::Active().LocateProtocol(guid, registration, interface);
}
EFI_STATUS EFIAPI GetVariableEntry(const CHAR16 *name, const EFI_GUID *vendor,
                                   UINT32 *attributes, UINTN *dataSize, VOID *data) {
  return Firmware::Active().GetVariable(name, vendor, attributes, dataSize, data);
}

// Every service the driver has no business calling answers this, and says so in the log.
EFI_STATUS EFIAPI UnexpectedServiceEntry() {
  Firmware::Active().Log("unexpected firmware service called");
  return EFI_UNSUPPORTED;
}

template <typename Table>
void FillWithUnexpected(Table &table) {
  VOID **slots = reinterpret_cast<VOID **>(reinterpret_cast<UINT8 *>(&table) +
                                           sizeof(EFI_TABLE_HEADER));
  size_t count = (sizeof(Table) - sizeof(EFI_TABLE_HEADER)) / sizeof(VOID *);
  for (size_t i = 0; i < count; i++) {
    slots[i] = reinterpret_cast<VOID *>(&UnexpectedServiceEntry);
  }
}

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

bool operator<(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(a)) < 0; }

std::string GuidName(const EFI_GUID &guid) {
  for (const NamedGuid &known : kKnownGuids) {
    if (GuidsEqual(*known.guid, guid)) {
      return known.name;
    }
  }
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// ---- FaultPlan ----

void FaultPlan::FailCall(const std::string &name, uint64_t ordinal, EFI_STATUS status) {
  rules_[name].push_back({ordinal, false, status});
}

void FaultPlan::FailFrom(const std::string &name, uint64_t ordinal, EFI_STATUS status) {
  rules_[name].push_back({ordinal, true, status});
}

void FaultPlan::Clear() {
  rules_.clear();
  calls_.clear();
  injected_ = 0;
}

std::optional<EFI_STATUS> FaultPlan::Check(const std::string &name) {
  uint64_t ordinal = ++calls_[name];
  auto found = rules_.find(name);
  if (found == rules_.end()) {
    return std::nullopt;
  }
  for (const Rule &rule : found->second) {
    if (ordinal == rule.first || (rule.onward && ordinal > rule.first)) {
      injected_++;
      return rule.status;
    }
  }
  return std::nullopt;
}

uint64_t FaultPlan::Calls(const std::string &name) const {
  auto found = calls_.find(name);
  return found == calls_.end() ? 0 : found->second;
}

// ---- Pool ----

Pool::~Pool() { ReleaseAll(); }

void Pool::ReleaseAll() {
  for (auto &[address, block] : live_) {
    std::free(const_cast<VOID *>(address));
  }
  live_.clear();
}

EFI_STATUS Pool::Allocate(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  // UEFI 2.10, 7.2: a pool type outside the defined ones, or a null Buffer, is invalid.
  if (buffer == nullptr || type >= EfiMaxMemoryType || type == EfiReservedMemoryType) {
    errors_.push_back("AllocatePool with invalid arguments");
    return EFI_INVALID_PARAMETER;
  }
  // A zero-byte request still gets a distinct, freeable block, as real pools give.
  VOID *block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  // Fresh pool memory holds leftovers, never zeros the caller could rely on.
  std::memset(block, 0xAF, size);
  live_[block] = {++allocations_, size, type};
  freed_.erase(block);
  *buffer = block;
  return EFI_SUCCESS;
}

EFI_STATUS Pool::Free(VOID *buffer) {
  auto found = live_.find(buffer);
  if (found == live_.end()) {
    auto earlier = freed_.find(buffer);
    if (earlier != freed_.end()) {
      errors_.push_back("double free of pool allocation #" + std::to_string(earlier->second));
    } else {
      errors_.push_back("FreePool of a pointer the pool never gave out: " +
                        Hex(reinterpret_cast<uintptr_t>(buffer)));
    }
    return EFI_INVALID_PARAMETER;
  }
  freed_[buffer] = found->second.serial;
  live_.erase(found);
  std::free(buffer);
  return EFI_SUCCESS;
}

uint64_t Pool::BytesOutstanding() const {
  uint64_t total = 0;
  for (const auto &[address, block] : live_) {
    total += block.size;
  }
  return total;
}

std::string Pool::LeakReport() const {
  std::ostringstream report;
  for (const auto &[address, block] : live_) {
    report << "leaked pool allocation #" << block.serial << " of " << block.size << " bytes\n";
  }
  return report.str();
}

// ---- Firmware ----

Firmware::Firmware() {
  previous_ = gActive;
  gActive = this;

  bootServices_.Hdr = {EFI_BOOT_SERVICES_SIGNATURE, 0x0002000A, sizeof(EFI_BOOT_SERVICES), 0, 0};
  FillWithUnexpected(bootServices_);
  bootServices_.AllocatePool = &AllocatePoolEntry;
  bootServices_.FreePool = &FreePoolEntry;
  bootServices_.HandleProtocol = &HandleProtocolEntry;
  bootServices_.LocateProtocol = &LocateProtocolEntry;

  runtimeServices_.Hdr = {EFI_RUNTIME_SERVICES_SIGNATURE, 0x0002000A,
                          sizeof(EFI_RUNTIME_SERVICES), 0, 0};
  FillWithUnexpected(runtimeServices_);
  runtimeServices_.GetVariable = &GetVariableEntry;

  systemTable_.Hdr = {EFI_SYSTEM_TABLE_SIGNATURE, 0x0002000A, sizeof(EFI_SYSTEM_TABLE), 0, 0};
  systemTable_.BootServices = &bootServices_;
  systemTable_.RuntimeServices = &runtimeServices_;
}

Firmware::~Firmware() { gActive = previous_; }

Firmware &Firmware::Active() {
  if (gActive == nullptr) {
    std::fprintf(stderr, "firmware service called with no simulated firmware active\n");
    std::abort();
  }
  return *gActive;
}

void Firmware::Log(std::string entry) { log.push_back(std::move(entry)); }

size_t Firmware::CountLog(const std::string &prefix) const {
  size_t count = 0;
  for (const std::string &entry : log) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      count++;
    }
  }
  return count;
}

EFI_HANDLE Firmware::CreateHandle() {
  // Handles are opaque tokens; give out addresses nobody can dereference by accident.
  handles_.push_back(nextHandle_);
  nextHandle_ += 0x10;
  return reinterpret_cast<EFI_HANDLE>(handles_.back());
}

void Firmware::InstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, VOID *interface) {
  UninstallProtocol(handle, guid);
  installed_.push_back({handle, guid, interface});
}

EFI_HANDLE Firmware::InstallProtocol(const EFI_GUID &guid, VOID *interface) {
  EFI_HANDLE handle = CreateHandle();
  InstallProtocol(handle, guid, interface);
  return handle;
}

void Firmware::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid) {
  std::erase_if(installed_, [&](const Installed &entry) {
    return entry.handle == handle && GuidsEqual(entry.guid, guid);
  });
}

EFI_STATUS Firmware::AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  if (auto fault = faults.Check("AllocatePool")) {
    Log("AllocatePool(" + std::to_string(size) + ") -> " + StatusName(*fault) + " (injected)");
    return *fault;
  }
  EFI_STATUS status = pool.Allocate(type, size, buffer);
  Log("AllocatePool(" + std::to_string(size) + ") -> " + StatusName(status));
  return status;
}

EFI_STATUS Firmware::FreePool(VOID *buffer) {
  EFI_STATUS status = pool.Free(buffer);
  Log("FreePool -> " + StatusName(status));
  return status;
}

EFI_STATUS Firmware::HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface) {
  std::string call = "HandleProtocol(" + (guid ? GuidName(*guid) : "null") + ")";
  // UEFI 2.10, 7.3: a null Protocol or Interface, or a null Handle, is invalid.
  if (guid == nullptr || interface == nullptr || handle == nullptr) {
    Log(call + " -> EFI_INVALID_PARAMETER");
    return EFI_INVALID_PARAMETER;
  }
  if (auto fault = faults.Check("HandleProtocol")) {
    *interface = nullptr;
    Log(call + " -> " + StatusName(*fault) + " (injected)");
    return *fault;
  }
  for (const Installed &entry : installed_) {
    if (entry.handle == handle && GuidsEqual(entry.guid, *guid)) {
      *interface = entry.interface;
      Log(call + " -> EFI_SUCCESS");
      return EFI_SUCCESS;
    }
  }
  *interface = nullptr;
  Log(call + " -> EFI_UNSUPPORTED");
  return EFI_UNSUPPORTED;
}

EFI_STATUS Firmware::LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  (void)registration;
  std::string name = guid ? GuidName(*guid) : "null";
  std::string call = "LocateProtocol(" + name + ")";
  if (guid == nullptr || interface == nullptr) {
    Log(call + " -> EFI_INVALID_PARAMETER");
    return EFI_INVALID_PARAMETER;
  }
  if (auto fault = faults.Check("LocateProtocol:" + name)) {
    *interface = nullptr;
    Log(call + " -> " + StatusName(*fault) + " (injected)");
    return *fault;
  }
  for (const Installed &entry : installed_) {
    if (GuidsEqual(entry.guid, *guid)) {
      *interface = entry.interface;
      Log(call + " -> EFI_SUCCESS");
      return EFI_SUCCESS;
    }
  }
  *interface = nullptr;
  Log(call + " -> EFI_NOT_FOUND");
  return EFI_NOT_FOUND;
}

EFI_STATUS Firmware::GetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes,
                                 UINTN *dataSize, VOID *data) {
  if (auto fault = faults.Check("GetVariable")) {
    Log("GetVariable -> " + StatusName(*fault) + " (injected)");
    return *fault;
  }
  EFI_STATUS status =
      getVariable_ ? getVariable_(name, vendor, attributes, dataSize, data) : EFI_NOT_FOUND;
  Log("GetVariable -> " + StatusName(status));
  return status;
}

}  // namespace sim
