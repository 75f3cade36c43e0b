// A whole board in the simulator: the firmware with every service the driver
// meets, the hardware a board file describes, and the driver's image, ready to
// be started once. The board is of the platform the driver was built for
// (BuiltInPlatform()): its strap wiring, its sockets' bus-number words, the
// driver's file GUID.
#pragma once

#include <string>
#include <vector>

#include "include/guids.h"
#include "sim/board.h"
#include "sim/firmware.h"
#include "sim/hii_database.h"
#include "sim/loaded_image.h"
#include "sim/pci_topology.h"
#include "sim/platform.h"
#include "sim/sideband_window.h"
#include "sim/smbios_table.h"
#include "sim/variable_store.h"

namespace sim {

// What one run of the driver did.
struct RunResult {
  EFI_STATUS status = EFI_SUCCESS;
  // Identifiers of the platform's riser positions as the pads read before
  // the run, one per position, in its order.
  std::vector<uint8_t> riserIds;
  std::vector<EFI_SMBIOS_HANDLE> added;        // handles the driver's records got, in order
  size_t outstandingAllocations = 0;
  std::vector<std::string> poolErrors;
  bool packageListRegistered = false;
};

class SimulatedBoard {
 public:
  explicit SimulatedBoard(const Board &board);
  ~SimulatedBoard();

  // Starts the driver's entry point once, as a dispatcher would.
  RunResult Run();

  Firmware firmware;
  SmbiosTable smbios{firmware, false};
  VariableStore variables{firmware, false};
  HiiDatabase hii{firmware, false};
  PciTopology pci;
  SidebandWindow window{&firmware};
  LoadedImage image{firmware, BuiltInPlatform().fileGuid};

  // The records the driver added in this run, in the order of adding.
  std::vector<SmbiosRecord> AddedRecords() const;

 private:
  RunResult last_;
};

// One run of the driver on a board: the whole table afterwards and what the
// run did, for callers that need no more than that.
struct BoardRun {
  RunResult result;
  std::vector<SmbiosRecord> table;  // every record in the table afterwards
  std::vector<SmbiosRecord> added;  // the driver's records, in order of adding
  std::vector<uint8_t> dump;        // the table as dmidecode --from-dump reads it
  CallLog log;                      // every firmware call and hardware read
};

BoardRun RunBoard(const Board &board);

}  // namespace sim
