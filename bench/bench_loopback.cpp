// Receive throughput of the device layer over the loopback backend: from the MIDI
// service thread through the input's ring to GetEvent on the benchmark's thread,
// which plays the UI thread (it sleeps until a data notice is posted, then drains
// as the main window's data handler does) and also feeds the loopback input.
#include "support/queued_poster.h"
#include "midi/midi_input.h"
#include "midi/service/loopback/loopback_service.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace pelrow {
namespace {

struct TReceiveBench {
  TReceiveBench() {
    Input.OnMidiData = [this](TMidiInput& input) {
      while (input.EventCount() > 0)
        if (const auto event = input.GetEvent()) {
          Bytes += event->Length != 0 ? static_cast<size_t>(event->Length) : 3;
          ++Messages;
        }
    };
    Input.OnOverflow = [this](TMidiInput&) { Lost = true; };
    Input.SetDeviceID(0);
    Input.Open();
    Input.Start();
  }
  void Feed(const std::vector<uint8_t>& bytes) { Service.InjectInput(LoopbackPortName, bytes); }

  TLoopbackMidiService Service;
  TQueuedPoster Poster;
  TMidiInput Input{Service, Poster};
  // Touched on the benchmark's thread only.
  size_t Messages = 0;
  size_t Bytes = 0;
  bool Lost = false;
};

void BM_LoopbackShortMessages(benchmark::State& state) {
  constexpr size_t Batch = 256;
  // Fewer messages in flight than the ring holds, so none is dropped.
  constexpr size_t MaxInFlight = 1024 - Batch;
  constexpr size_t PerIteration = 100000;
  TReceiveBench bench;
  std::vector<uint8_t> notes;
  for (size_t i = 0; i < Batch; ++i)
    notes.insert(notes.end(), {0x90, static_cast<uint8_t>(i & 0x7F), 0x40});

  size_t sent = 0;
  size_t target = 0;
  for (auto _ : state) {
    target += PerIteration;
    while (bench.Messages < target && !bench.Lost) {
      while (sent < target && sent - bench.Messages <= MaxInFlight - Batch) {
        bench.Feed(notes);
        sent += Batch;
      }
      bench.Poster.WaitAndRunPending();
    }
    if (bench.Lost) {
      state.SkipWithError("messages were lost");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(bench.Messages));
}
BENCHMARK(BM_LoopbackShortMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoopbackSysEx(benchmark::State& state) {
  constexpr size_t DumpBytes = size_t{4} << 20;
  TReceiveBench bench;
  std::vector<uint8_t> dump(DumpBytes, 0x55);
  dump.front() = 0xF0;
  dump.back() = 0xF7;
  size_t target = 0;
  for (auto _ : state) {
    target += DumpBytes;
    bench.Feed(dump);
    while (bench.Bytes < target && !bench.Lost)
      bench.Poster.WaitAndRunPending();
    if (bench.Lost) {
      state.SkipWithError("SysEx data was lost");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bench.Bytes));
}
BENCHMARK(BM_LoopbackSysEx)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace pelrow
