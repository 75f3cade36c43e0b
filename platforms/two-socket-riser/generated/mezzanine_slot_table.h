// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The mezzanine slots by slot index: Slot ID, string id, and wiring (socket,
// root-port group, root-port device, width).
#pragma once

#include "inventory/slot_fill.h"

constexpr SlotDescription MEZZANINE_SLOTS[MEZZANINE_SLOT_COUNT] = {
    {17, 2, {0, 3, 0, SlotWidth::X8}},  // "MEZZANINE 0"
    {18, 3, {0, 2, 2, SlotWidth::X8}},  // "MEZZANINE 1"
};
