// Generated from platforms/four-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The forms of the platform's slots: what each slot's SMBIOS 3.2 record carries
// past the 2.6 fields, and the other root ports of its bifurcated slots.

#pragma once

#include "inventory/slot_form.h"

// Own lanes, Slot Information, Slot Physical Width, Slot Height, Slot Pitch
// (1/100 mm), first peer in SLOT_PEERS and peer count, indexed by SlotForm.
constexpr SlotFormFields SLOT_FORMS[] = {
    {16, 0, 0x00, 0x00, 0, 0, 0},  // form 0: "OCP 3.0 NIC slot", "Rear riser, slot 1" and 4 more
    {8, 0, 0x00, 0x00, 0, 0, 1},   // form 1: "Front riser, x16 slot"
    {8, 0, 0x00, 0x00, 0, 0, 0},   // form 2: "Rear riser, slot 1", "Rear riser, slot 2" and 2 more
    {4, 0, 0x00, 0x00, 0, 0, 0},   // form 3: "Rear riser, slot 5", "Rear riser, slot 6"
    {8, 0, 0x00, 0x00, 0, 1, 1},   // form 4: "Rear riser, slot 7"
};

// Socket, root-port group, root-port device, lanes.
constexpr PeerShape SLOT_PEERS[SLOT_PEER_COUNT] = {
    {0, 2, 1, 8},  // form 1: socket 0, group 2, device 1, x8
    {3, 3, 1, 8},  // form 4: socket 3, group 3, device 1, x8
};
