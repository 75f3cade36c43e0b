#include "riser_dispatch.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "../smbios/table_access.h"
#include "record_model.h"

namespace {

// One record buffer serves every slot of the card; each slot's handler call
// overwrites the slot fields and the designation of the slot before it.
void AddSlotRecords(UINTN SlotCount, const RiserHandlerTable &Handlers) {
  VOID *record = AllocateZeroedBuffer(RECORD_BUFFER_SIZE);
  if (record == nullptr) {
    return;
  }
  PrepareSlotHeader(record);
  RiserSlotHandler handler =
      SlotCount < RISER_HANDLER_TABLE_SIZE ? Handlers[SlotCount] : nullptr;
  if (SlotCount > 0 && handler != nullptr) {
    UINTN capacity = RECORD_BUFFER_SIZE;
    for (UINTN slotIndex = FIRST_RISER_SLOT_INDEX;
         slotIndex < FIRST_RISER_SLOT_INDEX + SlotCount; slotIndex++) {
      if (!EFI_ERROR(handler(record, &capacity, slotIndex))) {
        InsertSmbiosRecord(record);
      }
    }
  }
  FreeBuffer(record);
}

}  // namespace

void AddMappedRiserSlots(UINT8 Identifier, const UINT8 *Map, const RiserHandlerTable &Handlers) {
  UINT8 slotCount = Map[Identifier];
  if (slotCount != NO_CARD) {
    AddSlotRecords(slotCount, Handlers);
  }
}
