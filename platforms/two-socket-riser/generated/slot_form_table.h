// Generated from platforms/two-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The forms of the platform's slots: none, its slot records are SMBIOS 2.6's,
// which end at Device/Function.
#pragma once

#include "inventory/slot_form.h"
