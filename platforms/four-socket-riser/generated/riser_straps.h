// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The strap wiring: every strap pad in the order the driver reads it, by GPIO
// group and pad number, with the riser position and identifier bit it gives.
#pragma once

#include "inventory/riser_ids.h"

constexpr RiserStrap RISER_STRAPS[] = {
    {9, 0x08, POSITION_FRONT, 0},  // pad 0x01090008
    {6, 0x00, POSITION_REAR, 7},   // pad 0x01060000
    {6, 0x01, POSITION_REAR, 6},   // pad 0x01060001
    {6, 0x02, POSITION_REAR, 5},   // pad 0x01060002
    {6, 0x03, POSITION_REAR, 4},   // pad 0x01060003
    {12, 0x04, POSITION_REAR, 3},  // pad 0x010C0004
    {12, 0x05, POSITION_REAR, 2},  // pad 0x010C0005
    {12, 0x06, POSITION_REAR, 1},  // pad 0x010C0006
    {12, 0x07, POSITION_REAR, 0},  // pad 0x010C0007
};
