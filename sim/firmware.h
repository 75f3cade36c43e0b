// The simulated firmware: a real EFI_SYSTEM_TABLE whose boot and runtime
// services are implemented here, with pool accounting, a protocol database,
// fault injection and a log of every call the driver makes.
//
// One Firmware is active at a time (boot services carry no "This" pointer, so
// the table's entries find their firmware through Firmware::Active()).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/uefi_loaded_image.h"
#include "include/uefi_system_table.h"
#include "sim/call_log.h"

namespace sim {

std::string GuidName(const EFI_GUID &guid);
bool operator<(const EFI_GUID &a, const EFI_GUID &b);

// Makes named firmware calls fail on purpose. Calls are counted per name from
// 1; a plan can fail exactly the k-th call or every call from the k-th on.
// Names are the service's ("AllocatePool", "GetVariable", "Smbios.GetNext",
// "LocateProtocol:<guid name>", ...).
class FaultPlan {
 public:
  void FailCall(std::string_view name, uint64_t ordinal, EFI_STATUS status);
  void FailFrom(std::string_view name, uint64_t ordinal, EFI_STATUS status);
  void FailAlways(std::string_view name, EFI_STATUS status) { FailFrom(name, 1, status); }
  void Clear();

  // Counts a call of `name`; the status to fail it with, if the plan says so.
  std::optional<EFI_STATUS> Check(std::string_view name);
  // The same for a name given as a string literal, found by its address:
  // the simulator's services check on every call.
  std::optional<EFI_STATUS> Check(const char *literal);
  uint64_t Calls(std::string_view name) const;
  uint64_t FaultsInjected() const { return injected_; }

 private:
  struct Rule {
    uint64_t first;
    bool onward;
    EFI_STATUS status;
  };
  // A service's count and rules. A run calls a dozen services: a short list,
  // searched by text only the first time a literal names a service.
  struct Service {
    std::string name;
    uint64_t calls = 0;
    std::vector<Rule> rules;
  };
  // The literals services were checked with, by address (open addressing,
  // linear probing), each with its service's index.
  struct Literal {
    const char *literal;
    size_t index;
  };
  static constexpr size_t kLiteralSlots = 64;

  Service &Find(std::string_view name);
  Service &FindLiteral(const char *literal);
  const Service *Lookup(std::string_view name) const;
  std::optional<EFI_STATUS> Count(Service &service);

  std::vector<Service> services_;
  Literal literals_[kLiteralSlots] = {};
  uint64_t injected_ = 0;
};

// Boot-services pool with accounting. Every allocation is a separate host
// allocation of exactly the size asked for, so AddressSanitizer sees overruns.
class Pool {
 public:
  Pool() {
    live_.reserve(32);
    freed_.reserve(256);
  }
  ~Pool();
  EFI_STATUS Allocate(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer);
  EFI_STATUS Free(VOID *buffer);

  size_t Outstanding() const { return live_.size(); }
  uint64_t AllocationCount() const { return allocations_; }
  uint64_t BytesOutstanding() const;
  // Double frees, frees of pointers the pool never gave out, bad pool types.
  const std::vector<std::string> &Errors() const { return errors_; }
  // One line per allocation still outstanding: its serial number and size.
  std::string LeakReport() const;
  bool Owns(const VOID *buffer) const { return Live(buffer) != nullptr; }
  // Releases what is outstanding without reporting it (for a firmware torn down
  // after the driver's own allocations were counted).
  void ReleaseAll();

 private:
  struct Block {
    const VOID *address;
    uint64_t serial;
    UINTN size;
    EFI_MEMORY_TYPE type;
  };
  // Few blocks are outstanding at once, and most frees release the latest;
  // both lists are searched from their end.
  const Block *Live(const VOID *buffer) const;
  std::vector<Block> live_;
  std::vector<Block> freed_;  // the recent frees, in order, for double-free reports
  std::vector<std::string> errors_;
  uint64_t allocations_ = 0;
};

class Firmware {
 public:
  Firmware();
  ~Firmware();
  Firmware(const Firmware &) = delete;
  Firmware &operator=(const Firmware &) = delete;

  static Firmware &Active();

  EFI_SYSTEM_TABLE *SystemTable() { return &systemTable_; }
  EFI_BOOT_SERVICES *BootServices() { return &bootServices_; }
  EFI_RUNTIME_SERVICES *RuntimeServices() { return &runtimeServices_; }

  // Protocol database. LocateProtocol answers with the first interface
  // installed for the GUID on any handle, in installation order.
  EFI_HANDLE CreateHandle();
  void InstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, VOID *interface);
  void UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid);
  // Installs on a handle of its own.
  EFI_HANDLE InstallProtocol(const EFI_GUID &guid, VOID *interface);

  // Runtime GetVariable is served by this function when set; EFI_NOT_FOUND otherwise.
  using GetVariableHandler =
      std::function<EFI_STATUS(const CHAR16 *, const EFI_GUID *, UINT32 *, UINTN *, VOID *)>;
  void SetVariableService(GetVariableHandler handler) { getVariable_ = std::move(handler); }

  Pool pool;
  FaultPlan faults;
  // Every firmware call the driver made, in order, e.g. "Smbios.GetNext(type=9) -> 0x0003".
  CallLog log;
  void Log(std::string entry) { log.AddLine(std::move(entry)); }
  size_t CountLog(const std::string &prefix) const;

  // Entry points installed in the tables.
  EFI_STATUS AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer);
  EFI_STATUS FreePool(VOID *buffer);
  EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface);
  EFI_STATUS LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface);
  EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes,
                         UINTN *dataSize, VOID *data);

 private:
  struct Installed {
    EFI_HANDLE handle;
    EFI_GUID guid;
    VOID *interface;
  };
  EFI_SYSTEM_TABLE systemTable_{};
  EFI_BOOT_SERVICES bootServices_{};
  EFI_RUNTIME_SERVICES runtimeServices_{};
  std::vector<Installed> installed_;
  std::vector<uint64_t> handles_;
  uint64_t nextHandle_ = 0x1000;
  GetVariableHandler getVariable_;
  Firmware *previous_ = nullptr;
};

}  // namespace sim
