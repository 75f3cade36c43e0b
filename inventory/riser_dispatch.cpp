#include "riser_dispatch.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../smbios/table_access.h"
#include "record_model.h"
#include "riser_ids.h"

constexpr UINT8 RiserSlotMap[RISER_SLOT_MAP_SIZE] = {3, 3, 2, 5, 3, 4, 3};

constexpr RiserHandlerTable Riser1HandlerTable = {NoRiserSlot, Riser1OneSlot, Riser1TwoSlot,
                                                  Riser1ThreeSlot};
constexpr RiserHandlerTable Riser2HandlerTable = {NoRiserSlot, Riser2OneSlot, Riser2TwoSlot,
                                                  Riser2ThreeSlot};
// No riser-3 identifier leads to three slots.
constexpr RiserHandlerTable Riser3HandlerTable = {NoRiserSlot, Riser3OneSlot, Riser3TwoSlot,
                                                  nullptr};

namespace {

// A code of this or less means the card offers no slot.
constexpr UINT8 NO_SLOT_CODE = 2;

// Riser 3 uses a fixed choice: 0 -> no slot, 1 -> two slots, 2 and 3 -> one slot.
constexpr UINT8 RISER3_SLOT_CODES[] = {2, 4, 3, 3};

bool LookupRiserSlotCode(UINT8 Identifier, UINT8 *Code) {
  if (Identifier >= RISER_SLOT_MAP_SIZE) {
    return false;
  }
  *Code = RiserSlotMap[Identifier];
  return true;
}

// One record buffer serves every slot of the card; each slot's handler call
// overwrites the slot fields and the designation of the slot before it.
void AddSlotRecords(UINT8 Code, const RiserHandlerTable &Handlers) {
  VOID *record = AllocateZeroedBuffer(RECORD_BUFFER_SIZE);
  if (record == nullptr) {
    return;
  }
  PrepareSlotHeader(record);
  UINTN slotCount = Code > NO_SLOT_CODE ? Code - NO_SLOT_CODE : 0;
  RiserSlotHandler handler =
      slotCount < RISER_HANDLER_TABLE_SIZE ? Handlers[slotCount] : nullptr;
  if (slotCount > 0 && handler != nullptr) {
    UINTN capacity = RECORD_BUFFER_SIZE;
    for (UINTN slotIndex = FIRST_RISER_SLOT_INDEX;
         slotIndex < FIRST_RISER_SLOT_INDEX + slotCount; slotIndex++) {
      if (!EFI_ERROR(handler(record, &capacity, slotIndex))) {
        InsertSmbiosRecord(record);
      }
    }
  }
  FreeBuffer(record);
}

// Risers 1 and 2 take their slot count from the identifier -> code map.
void AddMappedRiserSlots(UINT8 Identifier, const RiserHandlerTable &Handlers) {
  UINT8 code = 0;
  if (LookupRiserSlotCode(Identifier, &code)) {
    AddSlotRecords(code, Handlers);
  }
}

}  // namespace

void AddRiser1Slots() { AddMappedRiserSlots(ReadRiserIds().riser1, Riser1HandlerTable); }

void AddRiser2Slots() { AddMappedRiserSlots(ReadRiserIds().riser2, Riser2HandlerTable); }

void AddRiser3Slots() {
  UINT8 identifier = ReadRiserIds().riser3;
  UINT8 code = identifier < sizeof(RISER3_SLOT_CODES) ? RISER3_SLOT_CODES[identifier] : identifier;
  AddSlotRecords(code, Riser3HandlerTable);
}

EFI_STATUS AddRiserSlots() {
  // Whether a riser is handled rests on this reading; each riser routine reads
  // the identifiers again for its slot count.
  RiserIds ids = ReadRiserIds();
  if (ids.riser1 != RISER1_ID_NONE) {
    AddRiser1Slots();
  }
  if (ids.riser2 != RISER2_ID_NONE) {
    AddRiser2Slots();
  }
  if (ids.riser3 != RISER3_ID_NONE) {
    AddRiser3Slots();
  }
  return EFI_SUCCESS;
}
