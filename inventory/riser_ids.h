// Which riser card sits in each riser position, from the PCH strap pads.
#pragma once

#include "../include/uefi_base.h"
// RiserIds: one identifier per riser position, the position's pads read
// most significant first; <POSITION>_ID_NONE, the identifier of an empty
// position. RiserIds is four bytes, so that ReadRiserIds hands it back in a
// register: the x64 calling convention returns a 3-byte structure through
// memory the caller provides, which costs code at every call.
#include "platform_layout.h"

// One strap pad of the PCH by group and pad number, and the identifier bit it
// gives its riser position. The platform's strap wiring (riser_straps.h) is a
// table of them in the order the pads are read.
struct RiserStrap {
  UINT8 Group;
  UINT8 PadNumber;
  UINT8 Position;  // a RiserPosition
  UINT8 Bit;
};
static_assert(sizeof(RiserStrap) == 4);

// Reads all strap pads afresh; a pad that cannot be read counts as low.
RiserIds ReadRiserIds();
