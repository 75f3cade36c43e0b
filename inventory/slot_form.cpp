#include "slot_form.h"

#include "../hw/pci_config.h"
#include "record_model.h"
// SLOT_FORMS and SLOT_PEERS, the platform's forms.
#include "slot_form_table.h"

void FillLaterSlotFields(VOID *Record, SlotForm Form) {
  if constexpr (SLOT_RECORD_LAYOUT != SlotRecordLayout::Smbios26) {
    const SlotFormFields &form = SLOT_FORMS[Form.Index];
    UINT8 *bytes = static_cast<UINT8 *>(Record);
    if constexpr (SLOT_PEER_COUNT > 0) {
      // The length follows the slot's peers; on a platform without any, every
      // record keeps the length its header was given.
      ResizeFormattedArea(Record, SlotRecordLength(SLOT_RECORD_LAYOUT, form.PeerCount));
    }
    bytes[SMBIOS_TYPE9_DATA_BUS_WIDTH_OFFSET] = form.DataBusWidth;
    bytes[SMBIOS_TYPE9_PEER_GROUPING_COUNT_OFFSET] = form.PeerCount;
    if constexpr (SLOT_PEER_COUNT > 0) {
      // Each peer's bus from its socket's word, as the slot's own.
      MISC_SLOT_PEER_GROUP *groups =
          reinterpret_cast<MISC_SLOT_PEER_GROUP *>(bytes + SMBIOS_TYPE9_PEER_GROUPS_OFFSET);
      for (UINT8 i = 0; i < form.PeerCount; i++) {
        const PeerShape &peer = SLOT_PEERS[form.FirstPeer + i];
        UINT8 bus = RootPortBus(peer.Socket, peer.Group);
        groups[i].SegmentGroupNum = 0;
        groups[i].BusNum = bus;
        groups[i].DevFuncNum = EncodeDeviceFunction(peer.RootDevice, 0);
        groups[i].DataBusWidth = peer.DataBusWidth;
        if (SLOT_USAGE_FROM_PEERS && IsDevicePresentBehind(bus, peer.RootDevice)) {
          static_cast<SMBIOS_TABLE_TYPE9 *>(Record)->CurrentUsage = SlotUsageInUse;
        }
      }
    }
    SMBIOS_TABLE_TYPE9_EXTENDED *extended = reinterpret_cast<SMBIOS_TABLE_TYPE9_EXTENDED *>(
        bytes + SMBIOS_TYPE9_PEER_GROUPS_OFFSET + form.PeerCount * SMBIOS_TYPE9_PEER_GROUP_SIZE);
    if constexpr (SLOT_RECORD_LAYOUT >= SlotRecordLayout::Smbios34) {
      extended->SlotInformation = form.SlotInformation;
      extended->SlotPhysicalWidth = form.PhysicalWidth;
      extended->SlotPitch = form.Pitch;
    }
    if constexpr (SLOT_RECORD_LAYOUT >= SlotRecordLayout::Smbios35) {
      extended->SlotHeight = form.Height;
    }
  }
}
