// The editor control against Qt's own QPlainTextEdit holding the same text: filling
// a million lines of 32 hex bytes, the memory they take, painting the last screen and
// typing one character at the end.
#include "bench_application.h"
#include "editor/qt/veskmemo.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

namespace pelrow {
namespace {

constexpr int MillionLines = 1'000'000;
constexpr int ScreenLines = 60;

// 32 hex bytes separated by blanks: 95 characters, as the In box writes them.
std::string HexLine(int number) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(95);
  for (int i = 0; i < 32; ++i) {
    const int byte = (number + i * 7) & 0x7F;
    if (i > 0)
      line += ' ';
    line += digits[byte >> 4];
    line += digits[byte & 15];
  }
  return line;
}

const std::vector<std::string>& MillionHexLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> made;
    made.reserve(MillionLines);
    for (int i = 0; i < MillionLines; ++i)
      made.push_back(HexLine(i));
    return made;
  }();
  return lines;
}

size_t TextBytes() {
  return static_cast<size_t>(MillionLines) * 95;
}

void Fill(TVKCustomMemo& memo) {
  TVKStrings& lines = memo.Lines();
  lines.BeginUpdate();
  for (const std::string& line : MillionHexLines())
    lines.Add(line);
  lines.EndUpdate();
}

void BM_EditorFillMillionLines(benchmark::State& state) {
  BenchApplication();
  MillionHexLines();
  TVeskMemo memo;
  double bytesPerTextByte = 0;
  for (auto _ : state) {
    state.PauseTiming();
    memo.Clear();
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    Fill(memo);
    state.PauseTiming();
    bytesPerTextByte = static_cast<double>(mallinfo2().uordblks - before) / TextBytes();
    state.ResumeTiming();
  }
  state.counters["heap_per_text_byte"] = bytesPerTextByte;
  state.counters["lines"] = memo.Lines().Count();
}
BENCHMARK(BM_EditorFillMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QPlainTextEditSetPlainText(benchmark::State& state) {
  BenchApplication();
  std::string joined;
  joined.reserve(TextBytes() + MillionLines);
  for (const std::string& line : MillionHexLines()) {
    joined += line;
    joined += '\n';
  }
  const QString text = QString::fromLatin1(joined.data(), static_cast<qsizetype>(joined.size()));
  joined = std::string();
  QPlainTextEdit edit;
  for (auto _ : state) {
    state.PauseTiming();
    edit.clear();
    state.ResumeTiming();
    edit.setPlainText(text);
  }
  state.counters["lines"] = edit.blockCount();
}
BENCHMARK(BM_QPlainTextEditSetPlainText)->Unit(benchmark::kMillisecond)->Iterations(1);

// A box of a million lines showing its last 60.
TVeskMemo& FullMemo() {
  static TVeskMemo* memo = [] {
    BenchApplication();
    auto* made = new TVeskMemo;
    made->resize(800, ScreenLines * made->LineHeight() + 2 * made->frameWidth());
    Fill(*made);
    made->ScrollToEnd();
    made->MoveCaret(95, made->Lines().Count() - 1, true, false);
    return made;
  }();
  return *memo;
}

void BM_EditorPaintScreen(benchmark::State& state) {
  TVeskMemo& memo = FullMemo();
  QWidget* view = memo.viewport();
  QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&image);
    view->render(&painter);
  }
  state.counters["visible_lines"] = memo.VisibleLines();
  state.counters["top_line"] = memo.TopLine();
}
BENCHMARK(BM_EditorPaintScreen)->Unit(benchmark::kMillisecond);

void BM_QPlainTextEditPaintScreen(benchmark::State& state) {
  BenchApplication();
  QPlainTextEdit edit;
  std::string joined;
  for (const std::string& line : MillionHexLines()) {
    joined += line;
    joined += '\n';
  }
  edit.setPlainText(QString::fromLatin1(joined.data(), static_cast<qsizetype>(joined.size())));
  joined = std::string();
  edit.resize(800, ScreenLines * edit.fontMetrics().height() + 2 * edit.frameWidth());
  edit.moveCursor(QTextCursor::End);
  QImage image(edit.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&image);
    edit.viewport()->render(&painter);
  }
}
BENCHMARK(BM_QPlainTextEditPaintScreen)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_EditorTypeAtEnd(benchmark::State& state) {
  TVeskMemo& memo = FullMemo();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  for (auto _ : state) {
    QApplication::sendEvent(&memo, &press);
    // Keep the last line at its 95 characters from one iteration to the next.
    state.PauseTiming();
    QApplication::sendEvent(&memo, &backspace);
    state.ResumeTiming();
  }
  state.counters["last_line_length"] = memo.Lines().LineLength(memo.Lines().Count() - 1);
}
BENCHMARK(BM_EditorTypeAtEnd)->Unit(benchmark::kMicrosecond);

// Typing at the end of one 10 MB line, the size a received bulk dump reaches when
// long messages are not split: each character must cost the same as in a short line.
void BM_EditorTypeInLongLine(benchmark::State& state) {
  constexpr size_t LongLineBytes = 10u << 20;
  BenchApplication();
  static TVeskMemo* memo = [] {
    auto* made = new TVeskMemo;
    made->resize(800, ScreenLines * made->LineHeight() + 2 * made->frameWidth());
    std::string line;
    line.reserve(LongLineBytes + 96);
    for (int number = 0; line.size() < LongLineBytes; ++number) {
      if (!line.empty())
        line += ' ';
      line += HexLine(number);
    }
    made->Lines().Add(std::move(line));
    made->MoveCaret(made->Lines().LineLength(0), 0, true, false);
    return made;
  }();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  for (auto _ : state) {
    QApplication::sendEvent(memo, &press);
    // Keep the line at its length from one iteration to the next.
    state.PauseTiming();
    QApplication::sendEvent(memo, &backspace);
    state.ResumeTiming();
  }
  state.counters["line_length"] = memo->Lines().LineLength(0);
}
BENCHMARK(BM_EditorTypeInLongLine)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pelrow

namespace pelrow {
namespace {

// One received dump of 10 MB in a single line, the view at its far right with the
// caret at the end and the last bytes selected: a repaint lays out only what is on
// screen, not the line from its start.
void BM_EditorPaintLongLineEnd(benchmark::State& state) {
  BenchApplication();
  constexpr size_t LongLineBytes = 10'000'000;
  std::string line;
  line.reserve(LongLineBytes + 95);
  for (int i = 0; line.size() < LongLineBytes; ++i)
    line += HexLine(i) + ' ';
  line.resize(LongLineBytes);
  TVeskMemo memo;
  memo.resize(800, ScreenLines * memo.LineHeight() + 2 * memo.frameWidth());
  memo.Lines().Add(line);
  const int end = static_cast<int>(line.size());
  memo.MoveCaret(end - 20, 0, true, false);
  memo.MoveCaret(end, 0, true, true);
  QWidget* view = memo.viewport();
  QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&image);
    view->render(&painter);
  }
  state.counters["left_col"] = memo.LeftCol();
}
BENCHMARK(BM_EditorPaintLongLineEnd)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pelrow
