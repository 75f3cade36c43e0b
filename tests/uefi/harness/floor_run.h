// The floor driver's run: in the same state the slot inventory driver will
// find, and undone afterwards so that the driver finds exactly that state.
#pragma once

#include "tests/uefi/common/firmware_access.h"

// When the volume holds FLOOR.BIN (the records the driver adds, from the board
// simulator), FLOOR.HII (the driver's package list) and FLOOR.EFI, starts the
// floor driver with them, then puts the Type 9 and 41 records back as they were (bytes,
// handles, producers) and removes the floor's package list. Prints "floor"
// lines; does nothing when FLOOR.BIN is absent.
void RunFloorImage(const FirmwareContext &Context);
