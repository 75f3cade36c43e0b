// The Type 9 fields past the 2.6 formatted area, written for a platform whose
// description asks for a later layout (SLOT_RECORD_LAYOUT): the base's Data
// Bus Width and the peer groups (3.2), Slot Information, Slot Physical Width
// and Slot Pitch (3.4), Slot Height (3.5).
#pragma once

#include "../include/smbios_records.h"
// SlotForm, SLOT_RECORD_LAYOUT, SLOT_USAGE_FROM_PEERS, SLOT_PEER_COUNT.
#include "platform_layout.h"

// Another root port of a bifurcated slot: socket, root-port group, device
// (function 0), and its lanes.
struct PeerShape {
  UINT8 Socket;
  UINT8 Group;
  UINT8 RootDevice;
  UINT8 DataBusWidth;
};
static_assert(sizeof(PeerShape) == 4);

// What a slot's record carries past the 2.6 fields, one entry per form the
// platform's slots take (SlotForm::Index). Values are the record's own:
// lanes, the enumerations' codes, 1/100 mm.
struct SlotFormFields {
  UINT8 DataBusWidth;  // lanes of the slot's own root port
  UINT8 SlotInformation;
  UINT8 PhysicalWidth;
  UINT8 Height;
  UINT16 Pitch;
  UINT8 FirstPeer;  // in SLOT_PEERS
  UINT8 PeerCount;
};
static_assert(sizeof(SlotFormFields) == 8);

// The platform's forms and peers (slot_form_table.h, generated from its
// description). Only a platform of a later layout defines them, and only
// code for such a platform refers to them.
extern const SlotFormFields SLOT_FORMS[];
extern const PeerShape SLOT_PEERS[];

// Writes the later layout's fields of a slot whose 2.6 fields are filled,
// the formatted length following the form's peer count (the string area
// moved along) on a platform whose slots have peers. With SLOT_USAGE_FROM_PEERS, a slot Available behind its own
// root port is In use when something answers behind a peer's. Does nothing
// on a platform of 2.6 records.
void FillLaterSlotFields(VOID *Record, SlotForm Form);
