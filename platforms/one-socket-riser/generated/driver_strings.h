// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The string package's strings, one UCS-2 block each: block order gives
// the ids, from 1.
#pragma once

#include "include/uefi_base.h"
#include "include/uefi_hii.h"

constexpr CHAR8 PACKAGE_LANGUAGE[] = "en-US";
constexpr EFI_STRING_ID LANGUAGE_NAME_ID = 10;  // ENGLISH

constexpr const char16_t *DRIVER_STRINGS[] = {
    u"OCP 3.0 slot",         // 1
    u"Upper riser, slot 1",  // 2
    u"Upper riser, slot 2",  // 3
    u"Lower riser, slot 1",  // 4
    u"Lower riser, slot 2",  // 5
    u"Lower riser, slot 3",  // 6
    u"Onboard video",        // 7
    u"Onboard SATA",         // 8
    u"Onboard LAN",          // 9
    u"English",              // 10, the language's display name
};
