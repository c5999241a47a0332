// The main window with 100 MB of data: opening a .syx file into the Out box (1 KB
// messages, and one single message of 100 MB), saving such a box as .txt and .syx,
// saving 1 KB messages as one file each, and showing a received 100 MB bulk dump in the In box.
// Each run measures how long until the box holds the text and the longest time the UI thread went
// without returning to its event loop, seen by calls posted to it every 5 ms from another thread.
// The dump is fed in-process into the window's receive pump from the event loop, 256 KB per turn,
// as the input device delivers it; the bulk timer is the window's real one.
#include "app/dump_check.h"
#include "app/file_loader.h"
#include "app/line_formatter.h"
#include "app/qt/pelrow_form.h"
#include "app/receive_pump.h"
#include "app/split_saver.h"
#include "bench_application.h"
#include "editor/qt/veskmemo.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {
namespace {

constexpr size_t TotalBytes = 100u << 20;
constexpr size_t MessageBytes = 1024;
constexpr int MessagesPerTurn = 256;

// A SysEx message of n bytes whose data bytes vary with number.
std::vector<uint8_t> Message(size_t n, size_t number) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 1; i + 1 < n; ++i)
    bytes[i] = static_cast<uint8_t>((i + number) & 0x7F);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

std::string BigSyxFile(bool single) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            (single ? "pelrow_bench_single.syx" : "pelrow_bench_1k.syx"))
                               .string();
  if (std::filesystem::exists(path) && std::filesystem::file_size(path) == TotalBytes)
    return path;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const size_t messageBytes = single ? TotalBytes : MessageBytes;
  for (size_t at = 0; at < TotalBytes; at += messageBytes) {
    const std::vector<uint8_t> bytes = Message(messageBytes, at / messageBytes);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  return path;
}

// The longest time the UI thread took to answer: another thread posts a call to
// it every 5 ms, and each call notes how long it waited.
class TBusyProbe {
public:
  TBusyProbe()
      : FThread([this] {
          while (FRunning.load()) {
            const auto posted = std::chrono::steady_clock::now();
            QMetaObject::invokeMethod(
                &FReceiver,
                [this, posted] {
                  const double waited = std::chrono::duration<double, std::milli>(
                                            std::chrono::steady_clock::now() - posted)
                                            .count();
                  FLongestMs = std::max(FLongestMs, waited);
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}
  ~TBusyProbe() { Stop(); }
  // The answer counts only once the calls posted so far have run.
  double LongestMs() {
    Stop();
    return FLongestMs;
  }

private:
  void Stop() {
    if (!FThread.joinable())
      return;
    FRunning = false;
    FThread.join();
    QCoreApplication::processEvents();
  }

  QObject FReceiver;
  double FLongestMs = 0;
  std::atomic<bool> FRunning{true};
  std::thread FThread;
};

// Calls seen whenever the widget paints.
class TPaintWatch : public QObject {
public:
  TPaintWatch(QWidget& widget, std::function<void()> seen) : FSeen(std::move(seen)) {
    widget.installEventFilter(this);
  }

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      FSeen();
    return false;
  }

private:
  std::function<void()> FSeen;
};

// Turns the event loop until done holds; false after the limit. It sleeps while
// there is nothing to do (the probe's calls wake it), so that it takes no time
// from a worker thread.
bool RunUntil(const std::function<bool()>& done, int limitMs = 60000) {
  QElapsedTimer since;
  since.start();
  while (!done()) {
    if (since.elapsed() > limitMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

bool LastLogLineHas(TVeskMemo* log, const char* text) {
  const TVKStrings& lines = log->Lines();
  return !lines.Empty() && lines[lines.Count() - 1].find(text) != std::string::npos;
}

void BM_OpenSyx100MB(benchmark::State& state) {
  BenchApplication();
  const bool single = state.range(0) == 1;
  const std::string path = BigSyxFile(single);
  const int expectedLines = single ? 1 : int(TotalBytes / MessageBytes);
  double shownMs = 0, busyMs = 0;
  for (auto _ : state) {
    TPelrowForm form;
    form.resize(800, 600);
    form.show();
    QCoreApplication::processEvents();
    QElapsedTimer since;
    TBusyProbe probe;
    since.start();
    form.LoadFile(path);
    const bool done = RunUntil([&] {
      return form.SXOutput->Lines().Count() == expectedLines &&
             LastLogLineHas(form.LogOut, "was loaded succesfully");
    });
    shownMs = std::max(shownMs, double(since.elapsed()));
    // A last paint of the box belongs to showing it.
    form.SXOutput->viewport()->repaint();
    QCoreApplication::processEvents();
    busyMs = std::max(busyMs, probe.LongestMs());
    if (!done) {
      state.SkipWithError("the file did not load");
      break;
    }
  }
  state.counters["shown_ms"] = shownMs;
  state.counters["busy_ms"] = busyMs;
  state.SetBytesProcessed(int64_t(state.iterations() * TotalBytes));
}
BENCHMARK(BM_OpenSyx100MB)
    ->ArgName("single")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The Out box holds the 1 KB messages of the 100 MB file; each run saves it as
// ".txt" (300 MB of text) or ".syx" and measures how long until it is saved and the
// longest time the UI thread was busy meanwhile.
void BM_SaveBox100MB(benchmark::State& state) {
  BenchApplication();
  const bool text = state.range(0) == 1;
  const std::string saved = (std::filesystem::temp_directory_path() /
                             (text ? "pelrow_bench_saved.txt" : "pelrow_bench_saved.syx"))
                                .string();
  TPelrowForm form;
  form.resize(800, 600);
  form.show();
  form.LoadFile(BigSyxFile(false));
  if (!RunUntil([&] { return LastLogLineHas(form.LogOut, "was loaded succesfully"); })) {
    state.SkipWithError("the file did not load");
    return;
  }
  double savedMs = 0, busyMs = 0;
  for (auto _ : state) {
    QElapsedTimer since;
    TBusyProbe probe;
    since.start();
    form.SaveBoxAs(TStatusSide::Out, saved);
    const bool done = RunUntil(
        [&] { return !form.Saving() && LastLogLineHas(form.LogOut, "saved succesfully"); });
    savedMs = std::max(savedMs, double(since.elapsed()));
    busyMs = std::max(busyMs, probe.LongestMs());
    if (!done) {
      state.SkipWithError("the box was not saved");
      break;
    }
  }
  std::filesystem::remove(saved);
  state.counters["saved_ms"] = savedMs;
  state.counters["busy_ms"] = busyMs;
  state.SetBytesProcessed(int64_t(state.iterations() * TotalBytes));
}
BENCHMARK(BM_SaveBox100MB)
    ->ArgName("txt")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Before the folder dialog of "Save as separate files", the box is read as messages
// and the files are named: here for the 1 KB messages of the 100 MB file.
void BM_SplitAnalysis100MB(benchmark::State& state) {
  TVKStrings lines;
  TFileLoader loader(SteadyClock());
  loader.LoadFile(BigSyxFile(false), lines, -1);
  size_t files = 0;
  for (auto _ : state)
    files = SplitFilesOf(CheckDump(DumpDataOfLines(lines))).size();
  state.counters["files"] = double(files);
}
BENCHMARK(BM_SplitAnalysis100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The Out box holds n messages of 1 KB; each run saves them as separate files into
// an empty folder and measures files per second and the longest time the UI thread
// was busy meanwhile. The folders are removed only at the end: ext4 is slow to
// create files just after many were deleted.
void BM_SplitSave(benchmark::State& state) {
  BenchApplication();
  const auto count = size_t(state.range(0));
  const std::filesystem::path folders =
      std::filesystem::temp_directory_path() / "pelrow_bench_split";
  std::filesystem::remove_all(folders);
  TPelrowForm form;
  form.resize(800, 600);
  form.show();
  TVKStrings& lines = form.SXOutput->Lines();
  lines.BeginUpdate();
  lines.Clear();
  for (size_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> bytes = Message(MessageBytes, i);
    const uint8_t* data = bytes.data();
    int remaining = int(bytes.size());
    std::string line;
    FormatHexLine(data, remaining, -1, line);
    lines.Add(line);
  }
  lines.EndUpdate();
  double busyMs = 0, filesPerSecond = 0;
  int run = 0;
  for (auto _ : state) {
    const std::filesystem::path folder = folders / std::to_string(++run);
    std::filesystem::create_directories(folder);
    QElapsedTimer since;
    TBusyProbe probe;
    since.start();
    form.SaveBoxSeparately(TStatusSide::Out, folder.string());
    const bool done = RunUntil(
        [&] { return !form.Saving() && LastLogLineHas(form.LogOut, "saved as separate files"); });
    filesPerSecond = std::max(filesPerSecond, double(count) * 1000 / double(since.elapsed()));
    busyMs = std::max(busyMs, probe.LongestMs());
    if (!done) {
      state.SkipWithError("the box was not saved");
      break;
    }
  }
  std::filesystem::remove_all(folders);
  state.counters["files_per_s"] = filesPerSecond;
  state.counters["busy_ms"] = busyMs;
}
BENCHMARK(BM_SplitSave)
    ->ArgName("messages")
    ->Arg(10000)
    ->Arg(int64_t(TotalBytes / MessageBytes))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_ReceiveDump100MB(benchmark::State& state) {
  BenchApplication();
  const std::vector<uint8_t> message = Message(MessageBytes, 1);
  double completeMs = 0, quietMs = 0, busyMs = 0;
  for (auto _ : state) {
    TPelrowForm form;
    form.resize(800, 600);
    form.show();
    QCoreApplication::processEvents();
    TReceivePump& pump = form.ReceivePump();
    TBusyProbe probe;
    size_t fed = 0;
    QElapsedTimer sinceLast;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
      for (int i = 0; i < MessagesPerTurn && fed < TotalBytes; ++i, fed += MessageBytes)
        pump.HandleEvent(TMyMidiEvent::FromLong(message.data(), int(message.size()), 0), "bench");
      if (fed >= TotalBytes) {
        feeder.stop();
        sinceLast.start();
      }
    });
    feeder.start(0);
    // The batch starts with the timer tick that finds the input quiet, which paints
    // the panel's last text at once.
    qint64 displayStartMs = -1;
    TPaintWatch watch(*form.LSysExRcvd, [&] {
      if (displayStartMs < 0 && form.LSysExRcvd->text().startsWith("Displaying"))
        displayStartMs = sinceLast.elapsed();
    });
    const bool done = RunUntil([&] { return LastLogLineHas(form.LogIn, "bytes of bulk dump"); });
    completeMs = std::max(completeMs, double(sinceLast.elapsed()));
    quietMs = std::max(quietMs, double(displayStartMs));
    busyMs = std::max(busyMs, probe.LongestMs());
    if (!done || form.SXInput->Lines().Count() != int(TotalBytes / MessageBytes)) {
      state.SkipWithError("the dump was not shown whole");
      break;
    }
  }
  state.counters["complete_ms"] = completeMs;
  state.counters["quiet_ms"] = quietMs;
  state.counters["busy_ms"] = busyMs;
  state.SetBytesProcessed(int64_t(state.iterations() * TotalBytes));
}
BENCHMARK(BM_ReceiveDump100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
} // namespace pelrow
