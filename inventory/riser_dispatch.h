// Turns the fitted riser cards into Type 9 records, riser position by position.
#pragma once

#include "riser_slots.h"

// Adds the slots of every fitted riser, in the platform's order of positions.
// Always EFI_SUCCESS. Defined with the platform's positions (riser_cards.cpp).
EFI_STATUS AddRiserSlots();

// A card map's entry for an identifier that names no card.
inline constexpr UINT8 NO_CARD = 0xFF;

// Adds the records of the card Identifier names by Map, a card map: the slot
// count of the card each identifier names, an entry for every identifier the
// position's pads can give. An identifier that names no card adds nothing and
// allocates nothing.
void AddMappedRiserSlots(UINT8 Identifier, const UINT8 *Map, const RiserHandlerTable &Handlers);
