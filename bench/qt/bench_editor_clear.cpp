// Clearing a box of 100 MB of SysEx (300 MB of hex text) with Select all + Delete and
// getting it back with Undo, as keys sent to the box: the time of each, the process's
// peak memory while doing it as a ratio to the text, and the memory left once the
// box is cleared for good. Two shapes: 1 KB messages (one line each) and one message
// in a single line.
#include "bench_application.h"
#include "editor/qt/veskmemo.h"

#include <QApplication>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

namespace pelrow {
namespace {

constexpr size_t SysExBytes = 100u << 20;
constexpr size_t MessageBytes = 1024;

// A /proc/self/status counter in megabytes (VmRSS, VmHWM).
double StatusMegabytes(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string key;
  double kilobytes = 0;
  while (status >> key) {
    if (key == name + ":") {
      status >> kilobytes;
      return kilobytes / 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// Starts a new peak: VmHWM falls back to the present resident size.
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// One message of count bytes as the In box shows it: hex pairs separated by blanks.
std::string HexMessage(size_t count, int seed) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const int byte = i == 0           ? 0xF0
                     : i + 1 == count ? 0xF7
                                      : static_cast<int>((seed + i * 7) & 0x7F);
    if (i > 0)
      text += ' ';
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// Fills the box without ever holding the whole text elsewhere; returns its size.
size_t FillBox(TVKStrings& lines, bool singleMessage) {
  lines.BeginUpdate();
  size_t textBytes = 0;
  if (singleMessage) {
    lines.Add({});
    for (size_t done = 0; done < SysExBytes; done += MessageBytes) {
      // Messages follow one another in the line, a blank apart.
      if (done > 0)
        lines.InsertInLine(0, lines.LineLength(0), " ");
      const std::string piece = HexMessage(MessageBytes, static_cast<int>(done));
      lines.InsertInLine(0, lines.LineLength(0), piece);
      textBytes += piece.size() + (done > 0 ? 1 : 0);
    }
  } else {
    for (size_t done = 0; done < SysExBytes; done += MessageBytes) {
      const std::string line = HexMessage(MessageBytes, static_cast<int>(done));
      lines.Add(line);
      textBytes += line.size() + 2;
    }
  }
  lines.EndUpdate();
  return textBytes;
}

double MillisecondsOf(void (*action)(TVeskMemo&), TVeskMemo& memo) {
  const auto start = std::chrono::steady_clock::now();
  action(memo);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void SendKey(TVeskMemo& memo, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(&memo, &press);
}

void BM_ClearUndo100MB(benchmark::State& state) {
  BenchApplication();
  const double emptyMegabytes = StatusMegabytes("VmRSS");
  double afterClearMegabytes = 0;
  double textMegabytes = 0;
  double deleteMs = 0;
  double undoMs = 0;
  double peakMegabytes = 0;
  {
    TVeskMemo memo;
    memo.resize(800, 600);
    textMegabytes = static_cast<double>(FillBox(memo.Lines(), state.range(0) == 1)) / (1 << 20);
    const std::string lastLine(memo.Lines()[memo.Lines().Count() - 1].substr(0, 64));
    for (auto _ : state) {
      ResetPeakMemory();
      const double deleting = MillisecondsOf(
          [](TVeskMemo& box) {
            SendKey(box, Qt::Key_A, Qt::ControlModifier);
            SendKey(box, Qt::Key_Delete, Qt::NoModifier);
          },
          memo);
      const double undoing = MillisecondsOf(
          [](TVeskMemo& box) { SendKey(box, Qt::Key_Z, Qt::ControlModifier); }, memo);
      state.SetIterationTime((deleting + undoing) / 1000);
      deleteMs = std::max(deleteMs, deleting);
      undoMs = std::max(undoMs, undoing);
      peakMegabytes = std::max(peakMegabytes, StatusMegabytes("VmHWM"));
      if (memo.Lines()[memo.Lines().Count() - 1].substr(0, 64) != lastLine)
        state.SkipWithError("Undo did not bring the text back");
    }
    memo.Clear();
    afterClearMegabytes = StatusMegabytes("VmRSS");
  }
  state.counters["text_MB"] = textMegabytes;
  state.counters["delete_ms"] = deleteMs;
  state.counters["undo_ms"] = undoMs;
  state.counters["peak_rss_per_text"] = peakMegabytes / textMegabytes;
  state.counters["rss_empty_MB"] = emptyMegabytes;
  state.counters["rss_after_clear_MB"] = afterClearMegabytes;
}
// Argument 0: 1 KB messages, one per line; 1: one message in a single line.
BENCHMARK(BM_ClearUndo100MB)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

} // namespace
} // namespace pelrow
