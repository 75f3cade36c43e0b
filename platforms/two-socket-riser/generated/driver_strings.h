// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The string package's strings, one UCS-2 block each: block order gives
// the ids, from 1.
#pragma once

#include "include/uefi_base.h"
#include "include/uefi_hii.h"

constexpr CHAR8 PACKAGE_LANGUAGE[] = "en-US";
constexpr EFI_STRING_ID LANGUAGE_NAME_ID = 1;  // ENGLISH

constexpr const char16_t *DRIVER_STRINGS[] = {
    u"English",                          // 1, the language's display name
    u"MEZZANINE 0",                      // 2
    u"MEZZANINE 1",                      // 3
    u"Riser 1, slot 1",                  // 4
    u"Riser 1, slot 2",                  // 5
    u"Riser 1, slot 3",                  // 6
    u"Riser 2, slot 1",                  // 7
    u"Riser 2, slot 2",                  // 8
    u"Riser 2, slot 3",                  // 9
    u"Riser 3, slot 1",                  // 10
    u"Riser 3, slot 2",                  // 11
    u"Aspeed Video",                     // 12
    u"Intel I350",                       // 13
    u"Intel I350",                       // 14
    u"PCH Integrated SATA Controller",   // 15
    u"PCH Integrated sSATA Controller",  // 16
};
