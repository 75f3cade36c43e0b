// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// What the driver's shared code knows of the platform's size and shape: counts,
// slot widths, the record fields every slot shares, the riser positions.

#pragma once

#include "include/smbios_records.h"
#include "include/uefi_base.h"

// Sockets whose bus-number word the driver reads.
inline constexpr UINTN SOCKET_COUNT = 2;

// The slot widths, then Unwired: no root port feeds the slot as far as the
// driver knows.
enum class SlotWidth : UINT8 { X8, X16, Unwired };

// The Type 9 layout of the slot records (a later one than 2.6 carries the
// fields of inventory/slot_form.h), whether a slot is In use when only a
// peer's root port has something behind it, and the peers of all slots.
inline constexpr SlotRecordLayout SLOT_RECORD_LAYOUT = SlotRecordLayout::Smbios26;
inline constexpr bool SLOT_USAGE_FROM_PEERS = true;
inline constexpr UINTN SLOT_PEER_COUNT = 0;

// A slot's form: none, the 2.6 record ends at Device/Function. Index is
// there for the later layouts' code, which runs on no slot of this platform.
struct SlotForm {
  static constexpr UINT8 Index = 0;
};

// Type 9 fields every slot record carries.
inline constexpr UINT8 SLOT_LENGTH = 0x04;
inline constexpr UINT8 SLOT_CHARACTERISTICS1 = 0x04;
inline constexpr UINT8 SLOT_CHARACTERISTICS2 = 0x05;

inline constexpr UINTN MEZZANINE_SLOT_COUNT = 2;
inline constexpr UINTN ONBOARD_DEVICE_COUNT = 5;

// The string package: 16 strings in en-US, and the size of the
// package array holding it.
inline constexpr UINTN DRIVER_STRING_COUNT = 16;
inline constexpr UINTN DRIVER_STRING_PACKAGE_SIZE = 589;

// The riser positions, in the order the driver handles them.
enum RiserPosition : UINT8 {
    POSITION_RISER1,
    POSITION_RISER2,
    POSITION_RISER3,
    RISER_POSITION_COUNT,
};

// The identifier each position's pads give.
struct RiserIds {
  UINT8 riser1;       // 3 pads: 0 to 7
  UINT8 riser2;       // 3 pads: 0 to 7
  UINT8 riser3;       // 2 pads: 0 to 3
  UINT8 reserved[1];  // always 0
};
static_assert(sizeof(RiserIds) == 4);

constexpr RiserIds PackRiserIds(const UINT8 (&Ids)[RISER_POSITION_COUNT]) {
  return RiserIds{Ids[POSITION_RISER1], Ids[POSITION_RISER2], Ids[POSITION_RISER3], {0}};
}

// The identifier of an empty position: the driver skips a position whose
// first reading gives it.
inline constexpr UINT8 RISER1_ID_NONE = 7;
inline constexpr UINT8 RISER2_ID_NONE = 7;
inline constexpr UINT8 RISER3_ID_NONE = 3;

// Riser handler tables are indexed by slot count, 0 to 3.
inline constexpr UINTN RISER_HANDLER_TABLE_SIZE = 4;
