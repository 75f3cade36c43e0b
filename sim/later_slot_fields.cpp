#include "sim/later_slot_fields.h"

#include <algorithm>

#include "include/smbios_records.h"

namespace sim {

LaterSlotFields ReadLaterSlotFields(const SmbiosRecord &record) {
  LaterSlotFields fields;
  size_t length = std::min<size_t>(record.Length(), record.bytes.size());
  const uint8_t *bytes = record.bytes.data();
  if (length < SMBIOS_TYPE9_LENGTH_32) return fields;
  fields.dataBusWidth = bytes[SMBIOS_TYPE9_DATA_BUS_WIDTH_OFFSET];
  fields.peerCount = bytes[SMBIOS_TYPE9_PEER_GROUPING_COUNT_OFFSET];
  size_t count = *fields.peerCount;
  size_t tail = SMBIOS_TYPE9_PEER_GROUPS_OFFSET + count * SMBIOS_TYPE9_PEER_GROUP_SIZE;
  for (size_t i = 0; i < count; i++) {
    const uint8_t *group = bytes + SMBIOS_TYPE9_PEER_GROUPS_OFFSET + i * SMBIOS_TYPE9_PEER_GROUP_SIZE;
    if (group + SMBIOS_TYPE9_PEER_GROUP_SIZE > bytes + length) break;
    uint8_t devFunc = group[OFFSET_OF(MISC_SLOT_PEER_GROUP, DevFuncNum)];
    fields.peers.push_back({static_cast<uint16_t>(group[0] | (group[1] << 8)),
                            group[OFFSET_OF(MISC_SLOT_PEER_GROUP, BusNum)],
                            static_cast<uint8_t>(devFunc >> 3), static_cast<uint8_t>(devFunc & 7),
                            group[OFFSET_OF(MISC_SLOT_PEER_GROUP, DataBusWidth)]});
  }
  if (tail + OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotHeight) <= length) {
    const uint8_t *extended = bytes + tail;
    size_t pitch = OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotPitch);
    fields.slotInformation = extended[OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotInformation)];
    fields.physicalWidth = extended[OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotPhysicalWidth)];
    fields.pitch = static_cast<uint16_t>(extended[pitch] | (extended[pitch + 1] << 8));
  }
  if (tail + sizeof(SMBIOS_TABLE_TYPE9_EXTENDED) <= length) {
    fields.height = bytes[tail + OFFSET_OF(SMBIOS_TABLE_TYPE9_EXTENDED, SlotHeight)];
  }
  return fields;
}

}  // namespace sim
