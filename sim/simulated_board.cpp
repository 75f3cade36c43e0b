#include "sim/simulated_board.h"

#include "entry/startup.h"

namespace sim {

SimulatedBoard::SimulatedBoard(const Board &board) {
  window.SetRiserStraps(board.riserIds);
  for (const PadSetting &pad : board.pads) {
    int level = pad.level ? static_cast<int>(*pad.level) : window.PadLevel(pad.pad);
    window.SetPad(pad.pad, level, static_cast<int>(pad.owner));
  }
  for (unsigned socket = 0; socket < BuiltInPlatform().sockets.size(); socket++) {
    pci.SetSocketBusNumbers(socket, board.sockets[socket]);
  }
  for (const BridgeSetting &bridge : board.bridges) {
    pci.AddBridge(bridge.bus, bridge.device, bridge.secondary);
  }
  for (const FunctionSetting &function : board.devices) {
    pci.AddFunction(function.bus, function.device, function.function);
  }
  if (board.platformLang) {
    variables.SetPlatformLang(*board.platformLang);
  }
  variables.Install();
  for (const EarlierRecord &record : board.smbios) {
    smbios.AddRecord(EarlierRecordBytes(record));
  }
  // The board's faults count the driver's calls, not the earlier producer's adds.
  firmware.faults.Clear();

  const BoardFaults &faults = board.faults;
  if (!faults.noSmbiosProtocol) smbios.Install();
  hii.Install();
  if (faults.noHiiDatabase) firmware.faults.FailAlways("LocateProtocol:HiiDatabase", EFI_NOT_FOUND);
  if (faults.noHiiString) firmware.faults.FailAlways("LocateProtocol:HiiString", EFI_NOT_FOUND);
  if (!faults.noRegisterAccess) pci.Install(firmware);
  if (faults.newPackageListFails) firmware.faults.FailAlways("NewPackageList", EFI_OUT_OF_RESOURCES);
  // Faults at a call of a service: the call (or the first of the calls) and what it answers.
  struct CountedFault {
    std::optional<uint64_t> BoardFaults::*member;
    const char *service;
    uint64_t ordinalOffset;  // getNextFailsAfter N fails the record after the N-th
    bool onward;
    EFI_STATUS status;
  };
  const CountedFault counted[] = {
      {&BoardFaults::failAllocation, "AllocatePool", 0, false, EFI_OUT_OF_RESOURCES},
      {&BoardFaults::addFails, "Smbios.Add", 0, false, EFI_OUT_OF_RESOURCES},
      {&BoardFaults::addFailsFrom, "Smbios.Add", 0, true, EFI_OUT_OF_RESOURCES},
      {&BoardFaults::removeFails, "Smbios.Remove", 0, false, EFI_DEVICE_ERROR},
      {&BoardFaults::getNextFailsAfter, kGetNextRecord, 1, true, EFI_DEVICE_ERROR}};
  for (const CountedFault &fault : counted) {
    const std::optional<uint64_t> &n = faults.*fault.member;
    if (!n) continue;
    if (fault.onward) {
      firmware.faults.FailFrom(fault.service, *n + fault.ordinalOffset, fault.status);
    } else {
      firmware.faults.FailCall(fault.service, *n + fault.ordinalOffset, fault.status);
    }
  }
  // Setting the board up is not the driver's doing.
  firmware.log.clear();
  window.ClearReads();
}

SimulatedBoard::~SimulatedBoard() = default;

RunResult SimulatedBoard::Run() {
  RunResult result;
  for (unsigned id : window.RiserIdentifiers()) result.riserIds.push_back(static_cast<uint8_t>(id));

  uint64_t addsBefore = smbios.AddsSoFar();

  result.status = image.Start();

  // Handles freed by the purges are given out again, so what is new is told by serial.
  for (const SmbiosRecord &record : smbios.Records()) {
    if (record.serial > addsBefore) {
      result.added.push_back(record.handle);
    }
  }
  result.outstandingAllocations = firmware.pool.Outstanding();
  result.poolErrors = firmware.pool.Errors();
  result.packageListRegistered = hii.FindPackageList(BuiltInPlatform().fileGuid) != nullptr;
  last_ = result;
  return result;
}

std::vector<SmbiosRecord> SimulatedBoard::AddedRecords() const {
  std::vector<SmbiosRecord> added;
  for (EFI_SMBIOS_HANDLE handle : last_.added) {
    for (const SmbiosRecord &record : smbios.Records()) {
      if (record.handle == handle) added.push_back(record);
    }
  }
  return added;
}

BoardRun RunBoard(const Board &board) {
  SimulatedBoard simulated(board);
  BoardRun run;
  run.result = simulated.Run();
  run.table = simulated.smbios.Records();
  run.added = simulated.AddedRecords();
  run.dump = simulated.smbios.DumpImage();
  run.log = simulated.firmware.log;
  return run;
}

}  // namespace sim
