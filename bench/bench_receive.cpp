// Writing a collected bulk dump into the In box's line list when the bulk timer
// fires: 1000 SysEx messages of 1 KB, unsplit and split into 32-byte lines. The
// collection itself is set up outside the timing.
#include "app/receive_pump.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_service.h"

#include <benchmark/benchmark.h>

namespace pelrow {
namespace {

constexpr int DumpMessages = 1000;
constexpr int MessageBytes = 1024;

class TBenchClock final : public TClock {
public:
  uint32_t NowMs() override { return Now; }
  uint32_t Now = 0;
};

class TBenchTimer final : public TTimer {
public:
  void Start(uint32_t) override { FActive = true; }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }
  void Fire() {
    if (FActive && OnTimer)
      OnTimer(*this);
  }

private:
  bool FActive = false;
};

class TBenchPanel final : public TBulkPanel {
public:
  bool Visible() const override { return FVisible; }
  void Show() override { FVisible = true; }
  void Hide() override { FVisible = false; }
  void SetTexts(const std::string&, const std::string&, bool) override {}

private:
  bool FVisible = false;
};

std::unique_ptr<TMyMidiEvent> DumpMessage(int index) {
  std::vector<uint8_t> bytes(MessageBytes);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>((i + static_cast<size_t>(index)) & 0x7F);
  bytes.back() = 0xF7;
  return TMyMidiEvent::FromLong(bytes.data(), MessageBytes, 0);
}

void BM_BulkDumpDisplay(benchmark::State& state) {
  const bool split = state.range(0) > 0;
  TLoopbackMidiService service;
  TMidiOutput output(service);
  size_t lineCount = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TBenchClock clock;
    auto timerOwned = std::make_unique<TBenchTimer>();
    TBenchTimer& timer = *timerOwned;
    TVKStrings box;
    TVKStringsReceiveLines lines(box);
    TBenchPanel panel;
    TReceivePump pump(clock, std::move(timerOwned), lines, panel, output, {});
    pump.Options().SplitLongMessages = split;
    pump.Options().SplitLongMessagesThreshold = static_cast<int>(state.range(0));
    // A fresh burst, a millisecond per message, as a fast device sends a dump.
    clock.Now = 10000;
    for (int i = 0; i < DumpMessages; ++i, ++clock.Now)
      pump.HandleEvent(DumpMessage(i), "bench");
    clock.Now += TReceivePump::BulkTimerIntervalMs;
    state.ResumeTiming();

    timer.Fire();

    state.PauseTiming();
    lineCount = static_cast<size_t>(box.Count());
    if (pump.BulkMode() || box.Empty()) {
      state.SkipWithError("the dump was not written");
      break;
    }
    state.ResumeTiming();
  }
  state.counters["lines"] = static_cast<double>(lineCount);
  state.SetBytesProcessed(int64_t(state.iterations()) * DumpMessages * MessageBytes);
}
BENCHMARK(BM_BulkDumpDisplay)->Arg(0)->Arg(32)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pelrow
