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
  EXPECT_EQ(0, std::memcmp(record, expected, sizeof(expected)));
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
