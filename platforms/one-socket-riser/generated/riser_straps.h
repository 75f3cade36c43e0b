// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The strap wiring: every strap pad in the order the driver reads it, by GPIO
// group and pad number, with the riser position and identifier bit it gives.
#pragma once

#include "inventory/riser_ids.h"

constexpr RiserStrap RISER_STRAPS[] = {
    {9, 0x04, POSITION_UPPER, 1},   // pad 0x01090004
    {9, 0x05, POSITION_UPPER, 0},   // pad 0x01090005
    {12, 0x02, POSITION_LOWER, 1},  // pad 0x010C0002
    {12, 0x03, POSITION_LOWER, 0},  // pad 0x010C0003
};
