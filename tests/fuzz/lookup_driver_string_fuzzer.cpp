// LookupDriverString with arbitrary PlatformLang bytes (stored exactly as
// given, with or without a NUL) against the driver's registered package list,
// optionally with one firmware service failing.
//
// Input: flags, fault ordinal, string id (16 bits), then the PlatformLang
// bytes. Flag 0x01: no PlatformLang at all. Flags bits 1-3 pick the failing
// service (AllocatePool, GetVariable, GetLanguages, GetString), bit 4 makes
// it fail from that call on.
#include <string>

#include "base/firmware_services.h"
#include "hii/string_lookup.h"
#include "hii/string_package.h"
#include "hii/string_registration.h"
#include "include/guids.h"
#include "sim/firmware.h"
#include "sim/hii_database.h"
#include "sim/variable_store.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/table_checks.h"

namespace {

struct Environment {
  sim::Firmware firmware;
  sim::VariableStore variables{firmware};
  sim::HiiDatabase hii{firmware};

  Environment() {
    gBootServices = firmware.BootServices();
    gRuntimeServices = firmware.RuntimeServices();
    gHiiString = hii.StringProtocol();
    gHiiDatabase = hii.DatabaseProtocol();
    const UINT8 *packages[] = {DriverStringPackage};
    gHiiHandle = RegisterStringPackages(SLOT_INVENTORY_DRIVER_FILE_GUID, firmware.CreateHandle(),
                                        packages, 1);
    FUZZ_REQUIRE(gHiiHandle != nullptr, "the driver's package list does not register");
    FUZZ_REQUIRE(firmware.pool.Outstanding() == 0, "registration leaked");
  }
};

Environment &Env() {
  static Environment *environment = new Environment();
  return *environment;
}

const char *const kServices[] = {nullptr, "AllocatePool", "GetVariable", "GetLanguages",
                                 "GetString"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Environment &env = Env();
  fuzz::ByteReader in(data, size);
  uint8_t flags = in.Byte();
  uint64_t ordinal = in.Byte() % 8 + 1;
  EFI_STRING_ID id = in.Word16();
  std::vector<uint8_t> platformLang = in.Bytes(256);

  if ((flags & 0x01) != 0) {
    env.variables.Remove(u"PlatformLang", gEfiGlobalVariableGuid);
  } else {
    env.variables.Set(u"PlatformLang", gEfiGlobalVariableGuid, platformLang);
  }
  env.firmware.faults.Clear();
  env.firmware.log.clear();
  const char *failing = kServices[((flags >> 1) & 7) % 5];
  if (failing != nullptr) {
    if ((flags & 0x10) != 0) {
      env.firmware.faults.FailFrom(failing, ordinal, EFI_DEVICE_ERROR);
    } else {
      env.firmware.faults.FailCall(failing, ordinal, EFI_DEVICE_ERROR);
    }
  }

  CHAR16 *text = LookupDriverString(id);

  bool known = id >= 1 && id <= 16;
  if (text == nullptr) {
    FUZZ_REQUIRE(!known || env.firmware.faults.FaultsInjected() > 0,
                 "no string for id " + std::to_string(id));
  } else {
    FUZZ_REQUIRE(known, "a string for id " + std::to_string(id));
    // Whatever PlatformLang says, en-US is the only language there is.
    std::string got;
    for (const CHAR16 *at = text; *at != 0; at++) got += static_cast<char>(*at);
    FUZZ_REQUIRE(got == reliability::kDriverTexts[id],
                 "id " + std::to_string(id) + " gave \"" + got + "\"");
    gBootServices->FreePool(text);
  }
  FUZZ_REQUIRE(env.firmware.pool.Outstanding() == 0, "leak: " + env.firmware.pool.LeakReport());
  FUZZ_REQUIRE(env.firmware.pool.Errors().empty(), "pool: " + env.firmware.pool.Errors().front());
  return 0;
}
