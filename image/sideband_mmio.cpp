// The image's view of the PCH sideband window: boot services run identity
// mapped, so the register's physical address is loaded directly.
#include "hw/sideband.h"

UINT32 ReadSidebandRegister32(UINT64 PhysicalAddress) {
  return *reinterpret_cast<const volatile UINT32 *>(static_cast<UINTN>(PhysicalAddress));
}
