#include "sim/firmware.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <cstring>

#include "include/guids.h"
#include "sim/status_names.h"

namespace sim {

namespace {

Firmware *gActive = nullptr;

// A call refused for a null argument, naming the GUID it was given or "null".
void LogRefused(CallLog &log, const char *call, const EFI_GUID *guid) {
  if (guid == nullptr) {
    log.Add(call, "({t}) -> {s}").Status(EFI_INVALID_PARAMETER).Text("null");
  } else {
    log.Add(call, "({g}) -> {s}").Status(EFI_INVALID_PARAMETER).Guid(*guid);
  }
}

struct NamedGuid {
  const EFI_GUID *guid;
  const char *name;
  const char *locateName;  // its LocateProtocol's name in a fault plan
};

const NamedGuid kKnownGuids[] = {
    {&gEfiLoadedImageProtocolGuid, "LoadedImage", "LocateProtocol:LoadedImage"},
    {&gEfiSmbiosProtocolGuid, "Smbios", "LocateProtocol:Smbios"},
    {&gEfiHiiStringProtocolGuid, "HiiString", "LocateProtocol:HiiString"},
    {&gEfiHiiDatabaseProtocolGuid, "HiiDatabase", "LocateProtocol:HiiDatabase"},
    {&gEfiGlobalVariableGuid, "GlobalVariable", "LocateProtocol:GlobalVariable"},
    {&gRegisterAccessProtocolGuid, "RegisterAccess", "LocateProtocol:RegisterAccess"},
};

const NamedGuid *KnownGuid(const EFI_GUID &guid) {
  for (const NamedGuid &known : kKnownGuids) {
    if (GuidsEqual(*known.guid, guid)) {
      return &known;
    }
  }
  return nullptr;
}

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

constexpr size_t kFreesRemembered = 4096;

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

bool operator<(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(a)) < 0; }

std::string GuidName(const EFI_GUID &guid) {
  if (const NamedGuid *known = KnownGuid(guid)) {
    return known->name;
  }
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// ---- FaultPlan ----

FaultPlan::Service &FaultPlan::Find(std::string_view name) {
  for (Service &service : services_) {
    if (service.name == name) {
      return service;
    }
  }
  return services_.emplace_back(Service{std::string(name), 0, {}});
}

FaultPlan::Service &FaultPlan::FindLiteral(const char *literal) {
  size_t at = (reinterpret_cast<uintptr_t>(literal) * 0x9E3779B97F4A7C15u) >> 58;
  for (size_t probes = 0; probes < kLiteralSlots; probes++, at = (at + 1) % kLiteralSlots) {
    Literal &slot = literals_[at];
    if (slot.literal == literal) {
      return services_[slot.index];
    }
    if (slot.literal == nullptr) {
      Service &service = Find(literal);
      slot = {literal, static_cast<size_t>(&service - services_.data())};
      return service;
    }
  }
  return Find(literal);  // the table is full: a plan checked with that many literals is rare
}

const FaultPlan::Service *FaultPlan::Lookup(std::string_view name) const {
  for (const Service &service : services_) {
    if (service.name == name) {
      return &service;
    }
  }
  return nullptr;
}

void FaultPlan::FailCall(std::string_view name, uint64_t ordinal, EFI_STATUS status) {
  Find(name).rules.push_back({ordinal, false, status});
}

void FaultPlan::FailFrom(std::string_view name, uint64_t ordinal, EFI_STATUS status) {
  Find(name).rules.push_back({ordinal, true, status});
}

void FaultPlan::Clear() {
  services_.clear();
  std::fill(std::begin(literals_), std::end(literals_), Literal{});
  injected_ = 0;
}

std::optional<EFI_STATUS> FaultPlan::Check(std::string_view name) { return Count(Find(name)); }

std::optional<EFI_STATUS> FaultPlan::Check(const char *literal) {
  return Count(FindLiteral(literal));
}

std::optional<EFI_STATUS> FaultPlan::Count(Service &service) {
  uint64_t ordinal = ++service.calls;
  for (const Rule &rule : service.rules) {
    if (ordinal == rule.first || (rule.onward && ordinal > rule.first)) {
      injected_++;
      return rule.status;
    }
  }
  return std::nullopt;
}

uint64_t FaultPlan::Calls(std::string_view name) const {
  const Service *service = Lookup(name);
  return service == nullptr ? 0 : service->calls;
}

// ---- Pool ----

Pool::~Pool() { ReleaseAll(); }

void Pool::ReleaseAll() {
  for (const Block &block : live_) {
    std::free(const_cast<VOID *>(block.address));
  }
  live_.clear();
}

const Pool::Block *Pool::Live(const VOID *buffer) const {
  for (size_t i = live_.size(); i-- > 0;) {
    if (live_[i].address == buffer) {
      return &live_[i];
    }
  }
  return nullptr;
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
  live_.push_back({block, ++allocations_, size, type});
  *buffer = block;
  return EFI_SUCCESS;
}

EFI_STATUS Pool::Free(VOID *buffer) {
  const Block *found = Live(buffer);
  if (found == nullptr) {
    // The latest free of this address names the allocation freed twice.
    const Block *earlier = nullptr;
    for (size_t i = freed_.size(); earlier == nullptr && i-- > 0;) {
      if (freed_[i].address == buffer) earlier = &freed_[i];
    }
    if (earlier != nullptr) {
      errors_.push_back("double free of pool allocation #" + std::to_string(earlier->serial));
    } else {
      errors_.push_back("FreePool of a pointer the pool never gave out: " +
                        Hex(reinterpret_cast<uintptr_t>(buffer)));
    }
    return EFI_INVALID_PARAMETER;
  }
  // A long-lived pool (a fuzz target's) remembers only its recent frees; an
  // older pointer freed again is still reported, as one never given out.
  if (freed_.size() >= kFreesRemembered) {
    freed_.erase(freed_.begin(), freed_.begin() + kFreesRemembered / 2);
  }
  freed_.push_back(*found);
  live_.erase(live_.begin() + (found - live_.data()));
  std::free(buffer);
  return EFI_SUCCESS;
}

uint64_t Pool::BytesOutstanding() const {
  uint64_t total = 0;
  for (const Block &block : live_) {
    total += block.size;
  }
  return total;
}

std::string Pool::LeakReport() const {
  std::string report;
  for (const Block &block : live_) {
    report += "leaked pool allocation #" + std::to_string(block.serial) + " of " +
              std::to_string(block.size) + " bytes\n";
  }
  return report;
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

size_t Firmware::CountLog(const std::string &prefix) const {
  size_t count = 0;
  for (const std::string &entry : log.Lines()) {
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
    log.Add("AllocatePool", "({d}) -> {s} (injected)").Value(size).Status(*fault);
    return *fault;
  }
  EFI_STATUS status = pool.Allocate(type, size, buffer);
  log.Add("AllocatePool", "({d}) -> {s}").Value(size).Status(status);
  return status;
}

EFI_STATUS Firmware::FreePool(VOID *buffer) {
  EFI_STATUS status = pool.Free(buffer);
  log.Add("FreePool", " -> {s}").Status(status);
  return status;
}

EFI_STATUS Firmware::HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface) {
  // UEFI 2.10, 7.3: a null Protocol or Interface, or a null Handle, is invalid.
  if (guid == nullptr || interface == nullptr || handle == nullptr) {
    LogRefused(log, "HandleProtocol", guid);
    return EFI_INVALID_PARAMETER;
  }
  if (auto fault = faults.Check("HandleProtocol")) {
    *interface = nullptr;
    log.Add("HandleProtocol", "({g}) -> {s} (injected)").Guid(*guid).Status(*fault);
    return *fault;
  }
  EFI_STATUS status = EFI_UNSUPPORTED;
  *interface = nullptr;
  for (const Installed &entry : installed_) {
    if (entry.handle == handle && GuidsEqual(entry.guid, *guid)) {
      *interface = entry.interface;
      status = EFI_SUCCESS;
      break;
    }
  }
  log.Add("HandleProtocol", "({g}) -> {s}").Guid(*guid).Status(status);
  return status;
}

EFI_STATUS Firmware::LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  (void)registration;
  if (guid == nullptr || interface == nullptr) {
    LogRefused(log, "LocateProtocol", guid);
    return EFI_INVALID_PARAMETER;
  }
  const NamedGuid *known = KnownGuid(*guid);
  auto fault = known != nullptr ? faults.Check(known->locateName)
                                : faults.Check("LocateProtocol:" + GuidName(*guid));
  if (fault) {
    *interface = nullptr;
    log.Add("LocateProtocol", "({g}) -> {s} (injected)").Guid(*guid).Status(*fault);
    return *fault;
  }
  EFI_STATUS status = EFI_NOT_FOUND;
  *interface = nullptr;
  for (const Installed &entry : installed_) {
    if (GuidsEqual(entry.guid, *guid)) {
      *interface = entry.interface;
      status = EFI_SUCCESS;
      break;
    }
  }
  log.Add("LocateProtocol", "({g}) -> {s}").Guid(*guid).Status(status);
  return status;
}

EFI_STATUS Firmware::GetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes,
                                 UINTN *dataSize, VOID *data) {
  if (auto fault = faults.Check("GetVariable")) {
    log.Add("GetVariable", " -> {s} (injected)").Status(*fault);
    return *fault;
  }
  EFI_STATUS status =
      getVariable_ ? getVariable_(name, vendor, attributes, dataSize, data) : EFI_NOT_FOUND;
  log.Add("GetVariable", " -> {s}").Status(status);
  return status;
}

}  // namespace sim
