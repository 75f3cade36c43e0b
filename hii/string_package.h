// The driver's HII string package, carried in its constant data.
#pragma once

#include "../include/uefi_hii.h"

// A package array: a 32-bit little-endian length counting the whole array,
// then the packages it carries. The driver's holds one en-US string package
// with the sixteen designation strings, ids 1 to 16.
inline constexpr UINTN DRIVER_STRING_PACKAGE_SIZE = 589;
extern const UINT8 (&DriverStringPackage)[DRIVER_STRING_PACKAGE_SIZE];

// The end package header closing every package list: length 4, type END.
inline constexpr UINT8 END_PACKAGE_HEADER[sizeof(EFI_HII_PACKAGE_HEADER)] = {
    0x04, 0x00, 0x00, EFI_HII_PACKAGE_END};
