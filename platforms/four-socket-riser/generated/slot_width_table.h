// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// Slot Type and Data Bus Width of each slot width, indexed by SlotWidth.
#pragma once

#include "inventory/slot_fill.h"

constexpr WidthEncoding WIDTH_ENCODING[] = {
    {0xBB, 0x0A},  // X4
    {0xBC, 0x0B},  // X8
    {0xC3, 0x0D},  // X16
};
