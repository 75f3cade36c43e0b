// Compares the Type 9 and Type 41 records of a table read from a machine with
// the ones the driver writes for a board, record by record and field by field,
// handles aside.
//
// Records are paired, separately per type, by Slot ID (Type 9) or by Device
// Type Instance and kind of device (Type 41): first the pairs whose designations agree too, then the
// rest in table order. So a record renamed by another language is still
// paired with its slot, and an earlier producer's record that reuses an ID
// shows as one the driver would have removed. Order within the table is not
// compared.
#pragma once

#include <string>
#include <vector>

#include "sim/smbios_table.h"

namespace sim {

// One line per difference; empty when the records agree.
std::vector<std::string> CompareInventory(const std::vector<SmbiosRecord> &expected,
                                          const std::vector<SmbiosRecord> &actual);

// The Type 9 and Type 41 records among these, in order.
std::vector<SmbiosRecord> InventoryRecords(const std::vector<SmbiosRecord> &records);

}  // namespace sim
