#include "riser_ids.h"

#include "../hw/gpio_pads.h"

namespace {

enum RiserPosition : UINT8 { RISER_1, RISER_2, RISER_3, RISER_POSITIONS };

// A strap pad of the PCH by group and pad number, and the identifier bit it gives.
struct RiserStrap {
  UINT8 Group;
  UINT8 PadNumber;
  RiserPosition Riser;
  UINT8 Bit;
};
static_assert(sizeof(RiserStrap) == 4);

// The board's strap wiring, in the order the pads are read.
constexpr RiserStrap RISER_STRAPS[] = {
    {2, 0x0F, RISER_1, 2}, {2, 0x10, RISER_1, 1}, {2, 0x11, RISER_1, 0},
    {3, 0x15, RISER_2, 2}, {3, 0x16, RISER_2, 1}, {3, 0x17, RISER_2, 0},
    {3, 0x11, RISER_3, 1}, {3, 0x12, RISER_3, 0},
};

constexpr GpioPad StrapPad(const RiserStrap &Strap) {
  return GPIO_CHIPSET_ID << 24 | static_cast<UINT32>(Strap.Group) << 16 | Strap.PadNumber;
}
static_assert(StrapPad(RISER_STRAPS[0]) == 0x0102000F && StrapPad(RISER_STRAPS[7]) == 0x01030012);

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
    ids[strap.Riser] =
        static_cast<UINT8>(ids[strap.Riser] | (StrapLevel(StrapPad(strap)) << strap.Bit));
  }
  return RiserIds{ids[RISER_1], ids[RISER_2], ids[RISER_3], 0};
}
