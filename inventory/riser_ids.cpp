#include "riser_ids.h"

#include "../hw/gpio_pads.h"

namespace {

enum RiserPosition : UINT8 { RISER_1, RISER_2, RISER_3, RISER_POSITIONS };

struct RiserStrap {
  GpioPad Pad;
  RiserPosition Riser;
  UINT8 Bit;
};

// The board's strap wiring, in the order the pads are read.
constexpr RiserStrap RISER_STRAPS[] = {
    {0x0102000F, RISER_1, 2}, {0x01020010, RISER_1, 1}, {0x01020011, RISER_1, 0},
    {0x01030015, RISER_2, 2}, {0x01030016, RISER_2, 1}, {0x01030017, RISER_2, 0},
    {0x01030011, RISER_3, 1}, {0x01030012, RISER_3, 0},
};

// 0 or 1; a pad the host may not read is taken as low.
UINT8 StrapLevel(GpioPad Pad) {
  UINT32 value = 0;
  if (EFI_ERROR(ReadGpioPadInput(Pad, &value))) {
    return 0;
  }
  return static_cast<UINT8>((value >> 1) & 1);
}

}  // namespace

RiserIds ReadRiserIds() {
  UINT8 ids[RISER_POSITIONS] = {0, 0, 0};
  for (const RiserStrap &strap : RISER_STRAPS) {
    ids[strap.Riser] = static_cast<UINT8>(ids[strap.Riser] | (StrapLevel(strap.Pad) << strap.Bit));
  }
  return RiserIds{ids[RISER_1], ids[RISER_2], ids[RISER_3]};
}
