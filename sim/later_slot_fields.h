// The Type 9 fields of the later SMBIOS layouts in a record, as far as its
// formatted length holds them: the base's Data Bus Width and the peer groups
// (3.2), Slot Information, Slot Physical Width and Slot Pitch after the peer
// groups (3.4), Slot Height (3.5). Read by the table comparison and boardsim.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/smbios_table.h"

namespace sim {

struct PeerGroup {
  uint16_t segment;
  uint8_t bus;
  uint8_t device;
  uint8_t function;
  uint8_t width;  // lanes
};

struct LaterSlotFields {
  std::optional<uint8_t> dataBusWidth;  // lanes of the base
  std::optional<uint8_t> peerCount;     // with dataBusWidth
  std::vector<PeerGroup> peers;         // as many as the count says and the length holds
  std::optional<uint8_t> slotInformation;
  std::optional<uint8_t> physicalWidth;
  std::optional<uint16_t> pitch;  // 1/100 mm
  std::optional<uint8_t> height;
};

LaterSlotFields ReadLaterSlotFields(const SmbiosRecord &record);

}  // namespace sim
