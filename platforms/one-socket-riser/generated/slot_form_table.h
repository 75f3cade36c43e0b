// Generated from platforms/one-socket-riser/platform.json
// by tools/platform/generate.py; do not edit.
// The forms of the platform's slots: what each slot's SMBIOS 3.5 record carries
// past the 2.6 fields, and the other root ports of its bifurcated slots.

#pragma once

#include "inventory/slot_form.h"

// Own lanes, Slot Information, Slot Physical Width, Slot Height, Slot Pitch
// (1/100 mm), first peer in SLOT_PEERS and peer count, indexed by SlotForm.
constexpr SlotFormFields SLOT_FORMS[] = {
    {8, 4, 0x0D, 0x00, 2032, 0, 1},   // form 0: "OCP 3.0 slot"
    {16, 4, 0x0D, 0x03, 2032, 0, 0},  // form 1: "Upper riser, slot 1"
    {8, 4, 0x0D, 0x03, 2032, 0, 0},   // form 2: "Upper riser, slot 1"
    {8, 4, 0x0B, 0x03, 2032, 0, 0},   // form 3: "Upper riser, slot 1", "Upper riser, slot 2"
    {16, 4, 0x0D, 0x04, 2032, 0, 0},  // form 4: "Lower riser, slot 1"
    {8, 4, 0x0D, 0x04, 2032, 0, 0},   // form 5: "Lower riser, slot 1", "Lower riser, slot 2"
    {4, 4, 0x0A, 0x04, 2032, 0, 0},   // form 6: "Lower riser, slot 1", "Lower riser, slot 2" and 1 more
};

// Socket, root-port group, root-port device, lanes.
constexpr PeerShape SLOT_PEERS[SLOT_PEER_COUNT] = {
    {0, 2, 3, 8},  // form 0: socket 0, group 2, device 3, x8
};
