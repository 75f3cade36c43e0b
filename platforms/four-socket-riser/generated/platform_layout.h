// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// What the driver's shared code knows of the platform's size and shape: counts,
// slot widths, the record fields every slot shares, the riser positions.

#pragma once

#include "include/smbios_records.h"
#include "include/uefi_base.h"

// Sockets whose bus-number word the driver reads.
inline constexpr UINTN SOCKET_COUNT = 4;

// The slot widths, then Unwired: no root port feeds the slot as far as the
// driver knows.
enum class SlotWidth : UINT8 { X4, X8, X16, Unwired };

// The Type 9 layout of the slot records (a later one than 2.6 carries the
// fields of inventory/slot_form.h), whether a slot is In use when only a
// peer's root port has something behind it, and the peers of all slots.
inline constexpr SlotRecordLayout SLOT_RECORD_LAYOUT = SlotRecordLayout::Smbios32;
inline constexpr bool SLOT_USAGE_FROM_PEERS = false;
inline constexpr UINTN SLOT_PEER_COUNT = 2;

// A slot's form: its entry of SLOT_FORMS (slot_form_table.h).
struct SlotForm {
  UINT8 Index;
};

// Type 9 fields every slot record carries.
inline constexpr UINT8 SLOT_LENGTH = 0x04;
inline constexpr UINT8 SLOT_CHARACTERISTICS1 = 0x04;
inline constexpr UINT8 SLOT_CHARACTERISTICS2 = 0x01;

inline constexpr UINTN MEZZANINE_SLOT_COUNT = 1;
inline constexpr UINTN ONBOARD_DEVICE_COUNT = 3;

// The string package: 14 strings in en-US, and the size of the
// package array holding it.
inline constexpr UINTN DRIVER_STRING_COUNT = 14;
inline constexpr UINTN DRIVER_STRING_PACKAGE_SIZE = 541;

// The riser positions, in the order the driver handles them.
enum RiserPosition : UINT8 { POSITION_FRONT, POSITION_REAR, RISER_POSITION_COUNT };

// The identifier each position's pads give.
struct RiserIds {
  UINT8 front;        // 1 pads: 0 to 1
  UINT8 rear;         // 8 pads: 0 to 255
  UINT8 reserved[2];  // always 0
};
static_assert(sizeof(RiserIds) == 4);

constexpr RiserIds PackRiserIds(const UINT8 (&Ids)[RISER_POSITION_COUNT]) {
  return RiserIds{Ids[POSITION_FRONT], Ids[POSITION_REAR], {0, 0}};
}

// The identifier of an empty position: the driver skips a position whose
// first reading gives it.
inline constexpr UINT8 FRONT_ID_NONE = 1;
inline constexpr UINT8 REAR_ID_NONE = 255;

// Riser handler tables are indexed by slot count, 0 to 8.
inline constexpr UINTN RISER_HANDLER_TABLE_SIZE = 9;
