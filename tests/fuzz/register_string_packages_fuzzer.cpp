// RegisterStringPackages over arbitrary package arrays. Each array lies in a
// heap block at least as long as its length field claims (the driver may trust
// that field); a length field need not match the bytes it came with. In the
// overflow mode the fields claim more than 4 GiB in total, which the driver
// must refuse before reading past any field.
//
// Input: flags, then per array a mode byte, a claimed length (16 bits, or 32
// in the overflow mode), a content length (16 bits) and the content. Flags:
// 0x01 no HII database, 0x02 the allocation fails, 0x04 NewPackageList
// fails, 0x08 overflow mode, bits 4-6 the number of arrays.
#include <cstring>
#include <memory>
#include <vector>

#include "base/firmware_services.h"
#include "hii/string_registration.h"
#include "include/guids.h"
#include "sim/firmware.h"
#include "sim/hii_database.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr EFI_GUID kListGuid = {
    0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

struct Array {
  std::unique_ptr<UINT8[]> block;
  uint64_t claimed;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::ByteReader in(data, size);
  uint8_t flags = in.Byte();
  bool noDatabase = (flags & 0x01) != 0;
  bool failAllocation = (flags & 0x02) != 0;
  bool failDatabase = (flags & 0x04) != 0;
  bool overflow = (flags & 0x08) != 0;
  size_t count = (flags >> 4) & 7;

  std::vector<Array> arrays;
  std::vector<uint8_t> expectedPackages;
  bool refused = count == 0;
  uint64_t total = 0;
  for (size_t i = 0; i < count; i++) {
    uint8_t mode = in.Byte();
    uint64_t claimed = overflow ? (in.Word32() | 0x80000000u) : in.Word16();
    std::vector<uint8_t> content = in.Bytes(in.Word16() % 2048);
    if ((mode & 0x01) != 0 && !overflow) claimed = 4 + content.size();
    // Never less memory than the field claims; in the overflow mode the
    // driver must not read past the field at all.
    size_t blockSize = overflow ? 4 : (claimed < 4 ? 4 : claimed);
    Array array{std::unique_ptr<UINT8[]>(new UINT8[blockSize]), claimed};
    std::memset(array.block.get(), 0, blockSize);
    uint32_t field = static_cast<uint32_t>(claimed);
    std::memcpy(array.block.get(), &field, sizeof(field));
    if (!overflow && !content.empty()) {
      std::memcpy(array.block.get() + 4, content.data(), std::min(content.size(), blockSize - 4));
    }
    if (!overflow) {
      if (claimed < 4) refused = true;
      if (claimed >= 4) {
        expectedPackages.insert(expectedPackages.end(), array.block.get() + 4,
                                array.block.get() + claimed);
        total += claimed - 4;
      }
    }
    arrays.push_back(std::move(array));
  }
  if (overflow && count == 1) {
    // One array overflows the list only when it alone claims nearly 4 GiB.
    refused = arrays[0].claimed - 4 + 24 > 0xFFFFFFFFull;
    if (!refused) return 0;
  }
  refused = refused || overflow || (!overflow && total == 0) || noDatabase;

  sim::Firmware firmware;
  sim::HiiDatabase hii(firmware);
  gBootServices = firmware.BootServices();
  gHiiDatabase = noDatabase ? nullptr : hii.DatabaseProtocol();
  if (failAllocation) firmware.faults.FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES);
  if (failDatabase) firmware.faults.FailAlways("NewPackageList", EFI_OUT_OF_RESOURCES);

  std::vector<const UINT8 *> pointers;
  for (const Array &array : arrays) pointers.push_back(array.block.get());
  EFI_HII_HANDLE handle =
      RegisterStringPackages(kListGuid, firmware.CreateHandle(), pointers.data(), pointers.size());

  FUZZ_REQUIRE(firmware.pool.Outstanding() == 0, "leak: " + firmware.pool.LeakReport());
  FUZZ_REQUIRE(firmware.pool.Errors().empty(), "pool: " + firmware.pool.Errors().front());
  if (refused) {
    FUZZ_REQUIRE(handle == nullptr, "registered input that must be refused");
    FUZZ_REQUIRE(firmware.pool.AllocationCount() == 0 && firmware.faults.Calls("AllocatePool") == 0,
                 "allocated for input that must be refused");
    FUZZ_REQUIRE(firmware.faults.Calls("NewPackageList") == 0, "database asked");
  } else if (failAllocation || failDatabase) {
    FUZZ_REQUIRE(handle == nullptr, "a handle despite a failure");
  } else if (handle != nullptr) {
    // The list as the database keeps it: header, the packages back to back, end package.
    const sim::HiiPackageList *list = hii.FindPackageList(handle);
    FUZZ_REQUIRE(list != nullptr, "a handle the database does not know");
    std::vector<uint8_t> expected(sizeof(EFI_GUID));
    std::memcpy(expected.data(), &kListGuid, sizeof(EFI_GUID));
    uint32_t length = static_cast<uint32_t>(total + 24);
    expected.insert(expected.end(), reinterpret_cast<uint8_t *>(&length),
                    reinterpret_cast<uint8_t *>(&length) + 4);
    expected.insert(expected.end(), expectedPackages.begin(), expectedPackages.end());
    for (uint8_t byte : {0x04, 0x00, 0x00, 0xDF}) expected.push_back(byte);
    FUZZ_REQUIRE(list->bytes == expected, "the list registered is not the list built");
  } else {
    FUZZ_REQUIRE(hii.PackageLists().empty(), "a list registered but no handle returned");
  }
  gHiiDatabase = nullptr;
  return 0;
}
