// How fast the simulator runs the driver, and how the SMBIOS model's cost
// grows with the table. Each benchmark reports runs (or calls) per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/simulated_board.h"

namespace {

const sim::Board &DefaultBoard() {
  static const sim::Board board = [] {
    sim::Board loaded;
    std::string error;
    if (!sim::LoadBoardFile(SOURCE_DIR "/boards/default.json", loaded, error)) {
      std::fprintf(stderr, "boards/default.json: %s\n", error.c_str());
      std::exit(1);
    }
    return loaded;
  }();
  return board;
}

void ReportRate(benchmark::State &state, const char *name, int64_t perIteration = 1) {
  state.counters[name] = benchmark::Counter(static_cast<double>(state.iterations() * perIteration),
                                            benchmark::Counter::kIsRate);
}

// A fresh firmware model and board each run, as the tests build them.
void WholeDriverRun(benchmark::State &state) {
  const sim::Board &board = DefaultBoard();
  for (auto _ : state) {
    sim::SimulatedBoard simulated(board);
    sim::RunResult result = simulated.Run();
    benchmark::DoNotOptimize(result);
  }
  ReportRate(state, "runs/s");
}
BENCHMARK(WholeDriverRun);

// The same run with everything boardsim --trace shows: the whole call log
// formatted, the records, the table and its dump.
void WholeDriverRunWithTrace(benchmark::State &state) {
  const sim::Board &board = DefaultBoard();
  for (auto _ : state) {
    sim::BoardRun run = sim::RunBoard(board);
    benchmark::DoNotOptimize(run.log.Lines().data());
  }
  ReportRate(state, "runs/s");
}
BENCHMARK(WholeDriverRunWithTrace);

// A Type 9 record with one string, as the driver writes them.
std::vector<uint8_t> SlotRecord() {
  std::vector<uint8_t> bytes = {9, 0x11, 0, 0, 1, 0xB6, 0x0D, 4, 4, 1, 0, 4, 5, 0, 0, 0x3A, 0x08};
  for (char c : std::string("Riser 1, slot 1")) bytes.push_back(static_cast<uint8_t>(c));
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

struct Table {
  sim::Firmware firmware;
  sim::SmbiosTable smbios{firmware};
  EFI_SMBIOS_PROTOCOL *protocol = smbios.Protocol();
  std::vector<uint8_t> record = SlotRecord();

  EFI_SMBIOS_HANDLE Add() {
    EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
    protocol->Add(protocol, nullptr, &handle,
                  reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record.data()));
    return handle;
  }
  void Fill(int64_t count) {
    for (int64_t i = 0; i < count; i++) Add();
    firmware.log.clear();
  }
};

// Adding to and removing from a table of N records: one add and one remove per run.
void SmbiosAddRemove(benchmark::State &state) {
  Table table;
  table.Fill(state.range(0));
  for (auto _ : state) {
    EFI_SMBIOS_HANDLE handle = table.Add();
    table.protocol->Remove(table.protocol, handle);
    table.firmware.log.clear();
  }
  ReportRate(state, "add+remove/s");
}
BENCHMARK(SmbiosAddRemove)->Arg(100)->Arg(1000);

// A whole GetNext walk over a table of N records of one type.
void SmbiosWalk(benchmark::State &state) {
  Table table;
  table.Fill(state.range(0));
  for (auto _ : state) {
    EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
    EFI_SMBIOS_TYPE type = 9;
    EFI_SMBIOS_TABLE_HEADER *record = nullptr;
    while (table.protocol->GetNext(table.protocol, &handle, &type, &record, nullptr) ==
           EFI_SUCCESS) {
      benchmark::DoNotOptimize(record);
    }
    table.firmware.log.clear();
  }
  ReportRate(state, "walks/s");
  ReportRate(state, "GetNext/s", state.range(0) + 1);
}
BENCHMARK(SmbiosWalk)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
