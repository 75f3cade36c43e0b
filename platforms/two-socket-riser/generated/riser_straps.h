// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The strap wiring: every strap pad in the order the driver reads it, by GPIO
// group and pad number, with the riser position and identifier bit it gives.
#pragma once

#include "inventory/riser_ids.h"

constexpr RiserStrap RISER_STRAPS[] = {
    {2, 0x0F, POSITION_RISER1, 2},  // pad 0x0102000F
    {2, 0x10, POSITION_RISER1, 1},  // pad 0x01020010
    {2, 0x11, POSITION_RISER1, 0},  // pad 0x01020011
    {3, 0x15, POSITION_RISER2, 2},  // pad 0x01030015
    {3, 0x16, POSITION_RISER2, 1},  // pad 0x01030016
    {3, 0x17, POSITION_RISER2, 0},  // pad 0x01030017
    {3, 0x11, POSITION_RISER3, 1},  // pad 0x01030011
    {3, 0x12, POSITION_RISER3, 0},  // pad 0x01030012
};
