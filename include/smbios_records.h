// The two SMBIOS record layouts the driver writes, and the buffer it builds them in.
#pragma once

#include "pi_smbios.h"

// One record under construction: formatted area, then its string area.
inline constexpr UINTN RECORD_BUFFER_SIZE = 0x300;

// A record string holds at most 63 characters.
inline constexpr UINTN RECORD_STRING_LIMIT = 64;

// The formatted areas the driver writes: Type 9 as of SMBIOS 2.6, Type 41.
inline constexpr UINT8 SMBIOS_TYPE9_LENGTH = 0x11;
inline constexpr UINT8 SMBIOS_TYPE41_LENGTH = 0x0B;

// The later Type 9 layouts a platform may ask for instead, by the SMBIOS
// version that added their last fields: 3.2 the base's Data Bus Width and the
// peer groups, 3.4 Slot Information, Slot Physical Width and Slot Pitch after
// the peer groups, 3.5 Slot Height.
enum class SlotRecordLayout : UINT8 { Smbios26, Smbios32, Smbios34, Smbios35 };

// Where SMBIOS 3.2's fields sit, and the formatted length of each later
// layout with no peer group; each peer group adds SMBIOS_TYPE9_PEER_GROUP_SIZE.
inline constexpr UINTN SMBIOS_TYPE9_DATA_BUS_WIDTH_OFFSET = 0x11;
inline constexpr UINTN SMBIOS_TYPE9_PEER_GROUPING_COUNT_OFFSET = 0x12;
inline constexpr UINTN SMBIOS_TYPE9_PEER_GROUPS_OFFSET = 0x13;
inline constexpr UINT8 SMBIOS_TYPE9_PEER_GROUP_SIZE = 5;
inline constexpr UINT8 SMBIOS_TYPE9_LENGTH_32 = 0x13;
inline constexpr UINT8 SMBIOS_TYPE9_LENGTH_34 = 0x17;
inline constexpr UINT8 SMBIOS_TYPE9_LENGTH_35 = 0x18;

#if defined(SLOT_INVENTORY_EDK2)
// MdePkg's record layouts, which go on past the 2.6 formatted area (Type 9 to
// the SMBIOS 3.2 peer groups): lengths come from the constants above and the
// platform's layout, never from sizeof.
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, DataBusWidth) == SMBIOS_TYPE9_LENGTH);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, DataBusWidth) == SMBIOS_TYPE9_DATA_BUS_WIDTH_OFFSET);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, PeerGroupingCount) ==
              SMBIOS_TYPE9_PEER_GROUPING_COUNT_OFFSET);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, PeerGroups) == SMBIOS_TYPE9_PEER_GROUPS_OFFSET);
static_assert(sizeof(SMBIOS_TABLE_TYPE41) == SMBIOS_TYPE41_LENGTH);
#else
inline constexpr UINT8 SMBIOS_TYPE_SYSTEM_SLOTS = 9;
inline constexpr UINT8 SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION = 41;
inline constexpr UINT8 SMBIOS_TYPE_END_OF_TABLE = 127;

// SMBIOS Type 9, System Slots, as of SMBIOS 2.6 (17-byte formatted area): the
// record the driver writes, and the start of every later layout's. MdePkg's
// goes on to the SMBIOS 3.2 peer groups.
struct __attribute__((packed)) SMBIOS_TABLE_TYPE9 {
  EFI_SMBIOS_TABLE_HEADER Hdr;
  UINT8 SlotDesignation;
  UINT8 SlotType;
  UINT8 SlotDataBusWidth;
  UINT8 CurrentUsage;
  UINT8 SlotLength;
  UINT16 SlotID;
  UINT8 SlotCharacteristics1;
  UINT8 SlotCharacteristics2;
  UINT16 SegmentGroupNum;
  UINT8 BusNum;
  UINT8 DevFuncNum;
};
static_assert(sizeof(SMBIOS_TABLE_TYPE9) == SMBIOS_TYPE9_LENGTH);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotDesignation) == 0x04);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotType) == 0x05);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotDataBusWidth) == 0x06);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, CurrentUsage) == 0x07);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotLength) == 0x08);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotID) == 0x09);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotCharacteristics1) == 0x0B);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotCharacteristics2) == 0x0C);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SegmentGroupNum) == 0x0D);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, BusNum) == 0x0F);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, DevFuncNum) == 0x10);

// One peer group of SMBIOS 3.2: another root port of a bifurcated slot. The
// record's peer groups start at SMBIOS_TYPE9_PEER_GROUPS_OFFSET.
struct __attribute__((packed)) MISC_SLOT_PEER_GROUP {
  UINT16 SegmentGroupNum;
  UINT8 BusNum;
  UINT8 DevFuncNum;
  UINT8 DataBusWidth;  // lanes
};
static_assert(sizeof(MISC_SLOT_PEER_GROUP) == 5);
static_assert(OFFSET_OF(MISC_SLOT_PEER_GROUP, BusNum) == 0x02);
static_assert(OFFSET_OF(MISC_SLOT_PEER_GROUP, DevFuncNum) == 0x03);
static_assert(OFFSET_OF(MISC_SLOT_PEER_GROUP, DataBusWidth) == 0x04);

// The fields SMBIOS 3.4 and 3.5 put after the peer groups.
struct __attribute__((packed)) SMBIOS_TABLE_TYPE9_EXTENDED {
  UINT8 SlotInformation;
  UINT8 SlotPhysicalWidth;
  UINT16 SlotPitch;  // 1/100 mm
  UINT8 SlotHeight;
};
static_assert(sizeof(SMBIOS_TABLE_TYPE9_EXTENDED) == 5);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotPhysicalWidth) == 0x01);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotPitch) == 0x02);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotHeight) == 0x04);

// SMBIOS Type 41, Onboard Devices Extended Information (11-byte formatted area).
struct __attribute__((packed)) SMBIOS_TABLE_TYPE41 {
  EFI_SMBIOS_TABLE_HEADER Hdr;
  UINT8 ReferenceDesignation;
  UINT8 DeviceType;
  UINT8 DeviceTypeInstance;
  UINT16 SegmentGroupNum;
  UINT8 BusNum;
  UINT8 DevFuncNum;
};
static_assert(sizeof(SMBIOS_TABLE_TYPE41) == SMBIOS_TYPE41_LENGTH);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, ReferenceDesignation) == 0x04);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, DeviceType) == 0x05);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, DeviceTypeInstance) == 0x06);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, SegmentGroupNum) == 0x07);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, BusNum) == 0x09);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, DevFuncNum) == 0x0A);

// Slot Type, Data Bus Width, Current Usage and Slot Length values used, under
// MdePkg's enumerator names.
inline constexpr UINT8 SlotTypePciExpressGen3X8 = 0xB5;
inline constexpr UINT8 SlotTypePciExpressGen3X16 = 0xB6;
inline constexpr UINT8 SlotDataBusWidth8X = 0x0B;
inline constexpr UINT8 SlotDataBusWidth16X = 0x0D;
inline constexpr UINT8 SlotUsageAvailable = 3;
inline constexpr UINT8 SlotUsageInUse = 4;
inline constexpr UINT8 SlotLengthLong = 4;

// Device Type values used (bits 6:0 of the byte), under MdePkg's names.
inline constexpr UINT8 OnBoardDeviceExtendedTypeVideo = 0x03;
inline constexpr UINT8 OnBoardDeviceExtendedTypeEthernet = 0x05;
inline constexpr UINT8 OnBoardDeviceExtendedTypeSATAController = 0x09;
#endif  // SLOT_INVENTORY_EDK2

// Slot characteristics bytes (MdePkg declares them as bit-fields only).
inline constexpr UINT8 SLOT_CHARACTERISTICS1_PROVIDES_3_3V = 0x04;
inline constexpr UINT8 SLOT_CHARACTERISTICS2_PME_AND_SMBUS = 0x05;

// Device Type: bit 7 says the device is enabled, bits 6:0 say what it is.
inline constexpr UINT8 ONBOARD_DEVICE_ENABLED = 0x80;

// Each later layout ends where its last field does: after the peer groups
// (3.2), after Slot Pitch (3.4), after Slot Height (3.5).
static_assert(sizeof(MISC_SLOT_PEER_GROUP) == SMBIOS_TYPE9_PEER_GROUP_SIZE);
static_assert(SMBIOS_TYPE9_LENGTH_32 == SMBIOS_TYPE9_PEER_GROUPS_OFFSET);
static_assert(SMBIOS_TYPE9_LENGTH_34 ==
              SMBIOS_TYPE9_PEER_GROUPS_OFFSET + OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotHeight));
static_assert(SMBIOS_TYPE9_LENGTH_35 ==
              SMBIOS_TYPE9_PEER_GROUPS_OFFSET + sizeof(SMBIOS_TABLE_TYPE9_EXTENDED));

// The formatted length of a Type 9 record of the layout with PeerCount peer
// groups (none in the 2.6 layout).
constexpr UINT8 SlotRecordLength(SlotRecordLayout Layout, UINT8 PeerCount) {
  constexpr UINT8 WITHOUT_PEERS[] = {SMBIOS_TYPE9_LENGTH, SMBIOS_TYPE9_LENGTH_32,
                                     SMBIOS_TYPE9_LENGTH_34, SMBIOS_TYPE9_LENGTH_35};
  UINTN peerBytes =
      Layout == SlotRecordLayout::Smbios26 ? 0 : UINTN{PeerCount} * SMBIOS_TYPE9_PEER_GROUP_SIZE;
  return static_cast<UINT8>(WITHOUT_PEERS[static_cast<UINT8>(Layout)] + peerBytes);
}
static_assert(SlotRecordLength(SlotRecordLayout::Smbios26, 1) == 0x11);
static_assert(SlotRecordLength(SlotRecordLayout::Smbios35, 2) == 0x22);

// Device/Function byte: device in bits 7:3, function in bits 2:0.
constexpr UINT8 EncodeDeviceFunction(UINT8 device, UINT8 function) {
  return static_cast<UINT8>((device << 3) | (function & 7));
}

// Both layouts keep their one string's number (slot or reference designation) at byte 4.
inline constexpr UINTN RECORD_DESIGNATION_OFFSET = 4;
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE9, SlotDesignation) == RECORD_DESIGNATION_OFFSET);
static_assert(OFFSET_OF(SMBIOS_TABLE_TYPE41, ReferenceDesignation) == RECORD_DESIGNATION_OFFSET);
