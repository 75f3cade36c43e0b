// Fault control (test code): the driver with a planted bug. This sideband
// seam takes the product's place in a test copy of the driver and writes
// through a NULL pointer before its first pad read; under NULL-pointer
// detection the write faults inside the driver, and the runner checks that
// the exception dump, symbolized, names this routine and line.
#include "hw/sideband.h"

// Kept in memory, so the compiler cannot see the write is through NULL and
// replace it with a trap of its own.
volatile UINTN PlantedNullAddress = 0;

UINT32 ReadSidebandRegister32(UINT64 PhysicalAddress) {
  *reinterpret_cast<volatile UINT32 *>(PlantedNullAddress) = static_cast<UINT32>(PhysicalAddress);
  return *reinterpret_cast<const volatile UINT32 *>(static_cast<UINTN>(PhysicalAddress));
}
