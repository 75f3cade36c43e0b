// Memory and string primitives, against the simulated boot-services pool.
#include <gtest/gtest.h>

#include <cstring>

#include "base/firmware_services.h"
#include "base/memory.h"
#include "base/strings.h"
#include "entry/startup.h"
#include "sim/firmware.h"
#include "tests/unit/unit_support.h"

namespace {

class Primitives : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDriverState();
    gBootServices = firmware.BootServices();
  }
  void TearDown() override { test::ExpectPoolCleanAndReset(firmware); }
  sim::Firmware firmware;
};

TEST_F(Primitives, MoveBufferOverlapsBothWays) {
  UINT8 bytes[32];
  for (UINT8 i = 0; i < 32; i++) bytes[i] = i;
  // Destination one above the source: must copy backwards to keep the source intact.
  EXPECT_EQ(MoveBuffer(bytes + 1, bytes, 10), bytes + 1);
  for (UINT8 i = 0; i < 10; i++) EXPECT_EQ(bytes[1 + i], i);

  for (UINT8 i = 0; i < 32; i++) bytes[i] = i;
  // Destination below the source: forward, two words then four bytes.
  MoveBuffer(bytes, bytes + 3, 20);
  for (UINT8 i = 0; i < 20; i++) EXPECT_EQ(bytes[i], i + 3);
  EXPECT_EQ(bytes[20], 20);  // nothing past the length
}

TEST_F(Primitives, ZeroAndMoveWithLengthZeroTouchNothing) {
  // A null pointer with length 0 would fault if either routine dereferenced it.
  UINT8 *nothing = nullptr;
  EXPECT_EQ(ZeroBuffer(nothing, 0), nothing);
  EXPECT_EQ(MoveBuffer(nothing, nothing, 0), nothing);

  UINT8 odd[13];
  std::memset(odd, 0x5A, sizeof(odd));
  ZeroBuffer(odd, 11);
  for (int i = 0; i < 11; i++) EXPECT_EQ(odd[i], 0);
  EXPECT_EQ(odd[11], 0x5A);
}

TEST_F(Primitives, AllocatorsUseBootServicesDataAndReportFailureAsNull) {
  UINT8 *zeroed = static_cast<UINT8 *>(AllocateZeroedBuffer(100));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 100; i++) EXPECT_EQ(zeroed[i], 0);
  gBootServices->FreePool(zeroed);

  firmware.faults.FailCall("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(AllocateZeroedBuffer(16), nullptr);
  VOID *empty = AllocateZeroedBuffer(0);  // what the pool gives for 0 bytes
  EXPECT_NE(empty, nullptr);
  gBootServices->FreePool(empty);
}

TEST_F(Primitives, AsciiCompareNStopsWhereItMust) {
  EXPECT_EQ(AsciiCompareN("en-US", "en", 2), 0);
  EXPECT_EQ(AsciiCompareN("en-US", "en", 3), '-');
  EXPECT_EQ(AsciiCompareN("abc", "xyz", 0), 0);
  EXPECT_EQ(AsciiCompareN("\xC3", "a", 1), -158);  // bytes compare as signed
  EXPECT_EQ(AsciiCompareN("same", "same", 10), 0);
}

TEST_F(Primitives, BoundedLengthsNeverReadPastTheMaximum) {
  const CHAR16 five[] = u"abcde";
  EXPECT_EQ(WideStrLengthBounded(five, 3), 3u);
  EXPECT_EQ(WideStrLengthBounded(five, 5), 5u);
  EXPECT_EQ(WideStrLengthBounded(five, 6), 5u);
  EXPECT_EQ(WideStrLengthBounded(nullptr, 6), 0u);
  const CHAR8 unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(AsciiStrLengthBounded(unterminated, 3), 3u);
  EXPECT_EQ(AsciiStrLengthBounded(nullptr, 3), 0u);
}

TEST_F(Primitives, WideToAsciiCopyGuardsEveryCase) {
  const CHAR16 five[] = u"abcde";
  CHAR8 out[8];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(WideToAsciiCopy(five, out, 5), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(out[0], 'x');  // untouched on failure
  EXPECT_EQ(WideToAsciiCopy(five, out, MAX_STRING_LENGTH_LIMIT + 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WideToAsciiCopy(five, out, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WideToAsciiCopy(nullptr, out, 6), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WideToAsciiCopy(five, nullptr, 6), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WideToAsciiCopy(five, out, 6), EFI_SUCCESS);
  EXPECT_STREQ(out, "abcde");
  EXPECT_EQ(out[6], 'x');
  // The limit itself passes the size test (and then meets the overlap test,
  // since a destination that large would cover the source).
  EXPECT_NE(WideToAsciiCopy(five, out, MAX_STRING_LENGTH_LIMIT), EFI_INVALID_PARAMETER);

  const CHAR16 accented[] = {0x0141, 0};
  EXPECT_EQ(WideToAsciiCopy(accented, out, 2), EFI_SUCCESS);
  EXPECT_EQ(static_cast<UINT8>(out[0]), 0x41);
}

TEST_F(Primitives, WideToAsciiCopyRefusesOverlapButNotAdjacency) {
  alignas(8) UINT8 arena[64] = {};
  CHAR16 *source = reinterpret_cast<CHAR16 *>(arena);
  const CHAR16 text[] = u"abc";
  std::memcpy(source, text, sizeof(text));  // 8 bytes including NUL
  EXPECT_EQ(WideToAsciiCopy(source, reinterpret_cast<CHAR8 *>(source), 4), EFI_ACCESS_DENIED);
  EXPECT_EQ(WideToAsciiCopy(source, reinterpret_cast<CHAR8 *>(arena + 7), 4), EFI_ACCESS_DENIED);
  // Exactly behind the source's NUL is fine.
  EXPECT_EQ(WideToAsciiCopy(source, reinterpret_cast<CHAR8 *>(arena + 8), 4), EFI_SUCCESS);
  // A source that starts exactly where the destination ends is fine too.
  CHAR16 *late = reinterpret_cast<CHAR16 *>(arena + 32);
  std::memcpy(late, text, sizeof(text));
  EXPECT_EQ(WideToAsciiCopy(late, reinterpret_cast<CHAR8 *>(arena + 28), 4), EFI_SUCCESS);
  EXPECT_EQ(WideToAsciiCopy(late, reinterpret_cast<CHAR8 *>(arena + 29), 4), EFI_ACCESS_DENIED);
}

}  // namespace
