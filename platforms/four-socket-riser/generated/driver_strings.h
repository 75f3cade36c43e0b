// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The string package's strings, one UCS-2 block each: block order gives
// the ids, from 1.
#pragma once

#include "include/uefi_base.h"
#include "include/uefi_hii.h"

constexpr CHAR8 PACKAGE_LANGUAGE[] = "en-US";
constexpr EFI_STRING_ID LANGUAGE_NAME_ID = 1;  // ENGLISH

constexpr const char16_t *DRIVER_STRINGS[] = {
    u"English",                // 1, the language's display name
    u"OCP 3.0 NIC slot",       // 2
    u"Front riser, x16 slot",  // 3
    u"Rear riser, slot 1",     // 4
    u"Rear riser, slot 2",     // 5
    u"Rear riser, slot 3",     // 6
    u"Rear riser, slot 4",     // 7
    u"Rear riser, slot 5",     // 8
    u"Rear riser, slot 6",     // 9
    u"Rear riser, slot 7",     // 10
    u"Rear riser, slot 8",     // 11
    u"Onboard video",          // 12
    u"Boot NVMe",              // 13
    u"Onboard LAN",            // 14
};
