#include "riser_ids.h"

#include "../hw/gpio_pads.h"
// RISER_STRAPS, the platform's strap wiring.
#include "riser_straps.h"

namespace {

constexpr GpioPad StrapPad(const RiserStrap &Strap) {
  return GPIO_CHIPSET_ID << 24 | static_cast<UINT32>(Strap.Group) << 16 | Strap.PadNumber;
}

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
  UINT8 ids[RISER_POSITION_COUNT] = {};
  for (const RiserStrap &strap : RISER_STRAPS) {
    ids[strap.Position] =
        static_cast<UINT8>(ids[strap.Position] | (StrapLevel(StrapPad(strap)) << strap.Bit));
  }
  return PackRiserIds(ids);
}
