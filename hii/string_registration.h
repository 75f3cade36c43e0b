// Registration of the driver's string packages as one HII package list, and
// the module-level names of that package list.
#pragma once

#include "../include/uefi_hii.h"

// GUID naming the driver's package list: its firmware file's name, taken
// from the loaded image at start-up.
extern EFI_GUID PackageListGuid;

// Handle of the registered package list; null when registration failed, and
// then every string lookup finds nothing.
extern EFI_HII_HANDLE gHiiHandle;

// Wraps the packages of every array (each a 32-bit length counting itself,
// then packages) in one package list named Guid, closed by an end package,
// and hands it to the HII database for DriverHandle. Returns the database's
// handle, or null: no HII database, no package bytes, an array whose length
// field is below 4, a list too big for its 32-bit length, no memory, or a
// refusal by the database. The list built here never outlives the call.
EFI_HII_HANDLE RegisterStringPackages(const EFI_GUID &Guid, EFI_HANDLE DriverHandle,
                                      const UINT8 *const *PackageArrays, UINTN ArrayCount);

// Back to the state of a freshly loaded image.
void ForgetHiiState();
