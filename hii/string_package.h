// The driver's HII string package, carried in its constant data.
#pragma once

#include "../include/uefi_hii.h"
// DRIVER_STRING_PACKAGE_SIZE.
#include "platform_layout.h"

// A package array: a 32-bit little-endian length counting the whole array,
// then the packages it carries. The driver's holds one string package in the
// platform's language with its strings, ids 1 to DRIVER_STRING_COUNT: the
// language's display name and the designations.
extern const UINT8 (&DriverStringPackage)[DRIVER_STRING_PACKAGE_SIZE];

// The end package header closing every package list: length 4, type END.
inline constexpr UINT8 END_PACKAGE_HEADER[sizeof(EFI_HII_PACKAGE_HEADER)] = {
    0x04, 0x00, 0x00, EFI_HII_PACKAGE_END};
