// Filling a Type 9 record's slot fields from the root port that feeds the slot,
// and placing its designation string.
#pragma once

#include "../include/smbios_records.h"
#include "../include/uefi_hii.h"
// SlotWidth: the platform's slot widths, then Unwired (no root port feeds the
// slot as far as the driver knows). SlotForm: what a slot's record of a later
// layout carries besides (slot_form.h).
#include "platform_layout.h"

// Where a slot is wired: socket, root-port group k (the byte of the socket's
// bus-number word), root-port device (function 0), and width; and, on a
// platform of a later layout, its form. The form takes no room where the
// platform keeps the 2.6 record.
struct SlotShape {
  UINT8 Socket;
  UINT8 Group;
  UINT8 RootDevice;
  SlotWidth Width;
  [[no_unique_address]] SlotForm Form = {};
};

inline constexpr SlotShape UNWIRED_SLOT = {0, 0, 0, SlotWidth::Unwired};

// Everything that identifies one slot record. An unwired Shape leaves the slot
// fields as they are in the buffer. Held by value: the tables stay small and
// need no relocation.
struct SlotDescription {
  UINT16 SlotId;
  EFI_STRING_ID StringId;
  SlotShape Shape;
};
static_assert(SLOT_RECORD_LAYOUT != SlotRecordLayout::Smbios26 || sizeof(SlotDescription) == 8);

// What a width writes: Slot Type and Data Bus Width. The platform's table of
// them is indexed by SlotWidth.
struct WidthEncoding {
  UINT8 SlotType;
  UINT8 DataBusWidth;
};

// Slot Type, Data Bus Width, Bus Number, Device/Function and Current Usage
// from the root port and what answers behind it. Width is not Unwired.
void FillSlot(VOID *Record, UINT8 Socket, UINT8 Group, UINT8 RootDevice, SlotWidth Width);

// Fetches the string and places it as the record's designation. When it
// cannot be fetched or placed the record carries no designation at all.
void AttachDesignationString(VOID *Record, EFI_STRING_ID StringId);

// Slot ID, designation and slot fields of one slot, in the order every slot
// builder follows: the string is fetched before the fields are filled and
// placed after.
void DescribeSlot(VOID *Record, const SlotDescription &Slot);
