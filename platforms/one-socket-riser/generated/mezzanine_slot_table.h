// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The mezzanine slots by slot index: Slot ID, string id, and wiring (socket,
// root-port group, root-port device, width, form).
#pragma once

#include "inventory/slot_fill.h"

constexpr SlotDescription MEZZANINE_SLOTS[MEZZANINE_SLOT_COUNT] = {
    {10, 1, {0, 2, 0, SlotWidth::X16, {0}}},  // "OCP 3.0 slot"
};
