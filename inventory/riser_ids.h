// Which riser card sits in each riser position, from the PCH strap pads.
#pragma once

#include "../include/uefi_base.h"

// Riser 1 and 2 identifiers are 3 bits, riser 3's is 2 bits; all bits set
// means no card the dispatch handles. Four bytes, so that ReadRiserIds hands it
// back in a register: the x64 calling convention returns a 3-byte structure
// through memory the caller provides, which costs code at every call.
struct RiserIds {
  UINT8 riser1;
  UINT8 riser2;
  UINT8 riser3;
  UINT8 reserved;  // always 0
};
static_assert(sizeof(RiserIds) == 4);

inline constexpr UINT8 RISER1_ID_NONE = 7;
inline constexpr UINT8 RISER2_ID_NONE = 7;
inline constexpr UINT8 RISER3_ID_NONE = 3;

// Reads all eight strap pads afresh; a pad that cannot be read counts as low.
RiserIds ReadRiserIds();
