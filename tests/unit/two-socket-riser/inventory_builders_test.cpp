// Record builders called with positions they do not serve.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "inventory/mezzanine_slots.h"
#include "inventory/onboard_devices.h"
#include "inventory/riser_slots.h"

namespace {

std::vector<UINT8> OnlyHeader(std::initializer_list<UINT8> header) {
  std::vector<UINT8> bytes(RECORD_BUFFER_SIZE, 0);
  std::copy(header.begin(), header.end(), bytes.begin());
  return bytes;
}

TEST(Builders, OutOfRangeIndicesLeaveOnlyTheHeader) {
  std::vector<UINT8> record(RECORD_BUFFER_SIZE, 0);
  EXPECT_EQ(BuildMezzanineSlot(record.data(), 2), EFI_INVALID_PARAMETER);
  EXPECT_EQ(record, OnlyHeader({9, 0x11, 0xFE, 0xFF, 1, 0, 0, 0, 4, 0, 0, 0x04, 0x05}));

  std::fill(record.begin(), record.end(), 0);
  EXPECT_EQ(BuildOnboardDevice(record.data(), 5), EFI_INVALID_PARAMETER);
  EXPECT_EQ(record, OnlyHeader({41, 0x0B, 0xFE, 0xFF, 1}));
}

TEST(Builders, HandlersIgnoreSlotIndicesTheyDoNotServe) {
  std::vector<UINT8> record(RECORD_BUFFER_SIZE, 0xA5);
  const std::vector<UINT8> untouched = record;
  UINTN capacity = RECORD_BUFFER_SIZE;
  struct Case {
    RiserSlotHandler handler;
    UINTN slotIndex;
  };
  const Case cases[] = {{Riser1TwoSlot, 4}, {Riser2TwoSlot, 4}, {Riser3OneSlot, 3},
                        {Riser3TwoSlot, 4}, {Riser1ThreeSlot, 5}, {NoRiserSlot, 2}};
  for (const Case &c : cases) {
    EXPECT_EQ(c.handler(record.data(), &capacity, c.slotIndex), EFI_SUCCESS);
    EXPECT_EQ(record, untouched);
  }
  EXPECT_EQ(capacity, RECORD_BUFFER_SIZE);
}

}  // namespace
