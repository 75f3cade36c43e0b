// Type 9 and Type 41 headers prepared in a zero-filled record buffer; a slot's
// length and characteristics are the platform's.
#include <gtest/gtest.h>

#include <cstring>

#include "inventory/record_model.h"
#include "platform_layout.h"

namespace {

TEST(RecordModel, SlotHeaderWithEmptyStringAreaIsNineteenBytes) {
  alignas(8) UINT8 record[RECORD_BUFFER_SIZE] = {};
  PrepareSlotHeader(record);
  const UINT8 expected[19] = {9, 0x11, 0xFE, 0xFF, 1, 0, 0, 0, SLOT_LENGTH, 0, 0, SLOT_CHARACTERISTICS1,
                              SLOT_CHARACTERISTICS2, 0, 0, 0, 0, 0, 0};
  // A platform of a later layout starts its records longer, the rest the same.
  UINT8 length = SlotRecordLength(SLOT_RECORD_LAYOUT, 0);
  EXPECT_EQ(record[1], length);
  record[1] = 0x11;
  EXPECT_EQ(0, std::memcmp(record, expected, sizeof(expected)));
  EXPECT_EQ(record[length], 0);
  EXPECT_EQ(record[length + 1], 0);
}

TEST(RecordModel, ResizingMovesTheStringsWithTheFormattedArea) {
  alignas(8) UINT8 record[RECORD_BUFFER_SIZE] = {9, 0x13};
  const char strings[] = "Riser 1, slot 1\0Two\0";  // and the area's final NUL
  std::memcpy(record + 0x13, strings, sizeof(strings));
  ResizeFormattedArea(record, 0x18);
  EXPECT_EQ(record[1], 0x18);
  EXPECT_EQ(0, std::memcmp(record + 0x18, strings, sizeof(strings)));
  ResizeFormattedArea(record, 0x13);
  EXPECT_EQ(0, std::memcmp(record + 0x13, strings, sizeof(strings)));

  // Strings that would end past the buffer, or a string area that does not
  // end in it, are dropped rather than moved.
  std::memset(record + 0x13, 'x', 760 - 0x13);
  for (UINTN at = 0x13 + 50; at < 760; at += 51) record[at] = 0;  // strings of 50, the area ending at 761
  record[760] = record[761] = 0;
  ResizeFormattedArea(record, 0x20);
  EXPECT_EQ(record[1], 0x20);
  EXPECT_EQ(record[0x20], 0);
  EXPECT_EQ(record[0x21], 0);
  std::memset(record + 0x40, 'x', RECORD_BUFFER_SIZE - 0x40);
  record[1] = 0x40;
  ResizeFormattedArea(record, 0x18);
  EXPECT_EQ(record[0x18] | record[0x19], 0);
}

TEST(RecordModel, CharacteristicsAreSetByOrAndOtherSlotFieldsKept) {
  alignas(8) UINT8 record[RECORD_BUFFER_SIZE] = {};
  record[0x0B] = 0x40;
  record[0x05] = 0xB6;
  PrepareSlotHeader(record);
  EXPECT_EQ(record[0x0B], 0x40 | SLOT_CHARACTERISTICS1);
  EXPECT_EQ(record[0x0C], SLOT_CHARACTERISTICS2);
  EXPECT_EQ(record[0x05], 0xB6);
}

TEST(RecordModel, DeviceHeader) {
  alignas(8) UINT8 record[RECORD_BUFFER_SIZE] = {};
  PrepareDeviceHeader(record);
  const UINT8 expected[13] = {41, 0x0B, 0xFE, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(record, expected, sizeof(expected)));
}

TEST(RecordModel, DeviceFunctionEncoding) {
  EXPECT_EQ(EncodeDeviceFunction(2, 0), 0x10);
  EXPECT_EQ(EncodeDeviceFunction(23, 0), 0xB8);
  EXPECT_EQ(EncodeDeviceFunction(17, 5), 0x8D);
}

}  // namespace
