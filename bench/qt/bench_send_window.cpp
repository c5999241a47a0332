// How the main window answers while it sends: 1 MB of SysEx goes out unpaced over
// the loopback port (and comes back into the In box), while another thread posts
// work to the UI thread every 2 ms, as the MIDI input and the window system do.
// Each posted call notes how long it waited; the 95th percentile is the figure.
#include "app/qt/pelrow_form.h"
#include "app/send_engine.h"
#include "app/send_rate.h"
#include "bench_application.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_service.h"

#include <QPushButton>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {
namespace {

using TSteady = std::chrono::steady_clock;

constexpr int DumpLines = 8192;
constexpr int LineBytes = 128; // 8192 lines of 128 bytes: 1 MB
constexpr auto PostInterval = std::chrono::milliseconds(2);

std::string SysExLine(int number) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line = "F0";
  for (int i = 1; i < LineBytes - 1; ++i) {
    const int byte = (number + i) & 0x7F;
    line += ' ';
    line += digits[byte >> 4];
    line += digits[byte & 15];
  }
  return line + " F7";
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty())
    return 0.0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

void BM_UiLatencyDuringSend(benchmark::State& state) {
  BenchApplication();
  std::vector<double> latenciesMs;
  int64_t sentBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TPelrowStartup startup;
    auto service = std::make_shared<TLoopbackMidiService>();
    startup.MidiService = service;
    TPelrowForm form(std::move(startup));
    form.show();
    QCoreApplication::processEvents();
    form.CurrentOutput()->SetDeviceID(0);
    form.CurrentOutput()->Open();
    form.CurrentInput()->SetDeviceID(0);
    form.CurrentInput()->Open();
    form.CurrentInput()->Start();
    form.SXOutput->Lines().Clear();
    for (int i = 0; i < DumpLines; ++i)
      form.SXOutput->Lines().Add(SysExLine(i));
    form.FSendSpeed = SendSpeedUnpaced;
    QObject receiver;
    std::atomic<bool> sending{true};
    std::thread poster([&] {
      while (sending.load()) {
        const TSteady::time_point posted = TSteady::now();
        QMetaObject::invokeMethod(
            &receiver,
            [&latenciesMs, posted] {
              latenciesMs.push_back(
                  std::chrono::duration<double, std::milli>(TSteady::now() - posted).count());
            },
            Qt::QueuedConnection);
        std::this_thread::sleep_for(PostInterval);
      }
    });
    state.ResumeTiming();

    form.BSend->click();

    state.PauseTiming();
    sending = false;
    poster.join();
    QCoreApplication::processEvents(); // the last posts wait until the send ended
    sentBytes += form.SendEngine().TotalSent();
    form.CurrentInput()->Close();
    form.CurrentOutput()->Close();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(sentBytes);
  state.counters["posted"] = static_cast<double>(latenciesMs.size());
  state.counters["p50_ms"] = Percentile(latenciesMs, 0.50);
  state.counters["p95_ms"] = Percentile(latenciesMs, 0.95);
  state.counters["max_ms"] = Percentile(latenciesMs, 1.0);
}
BENCHMARK(BM_UiLatencyDuringSend)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace pelrow
