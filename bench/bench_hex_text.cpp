// Speed of the hex notation: parsing Out box lines and formatting received data.
#include "app/hex_notation.h"
#include "app/line_formatter.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

using namespace pelrow;

namespace {

constexpr int BytesPerLine = 32;
constexpr size_t SysExTotal = 10 * 1024 * 1024;

// 32-byte lines as the program writes them: "F0 41 10 ... F7".
std::vector<std::string> MakeHexLines(size_t lineCount) {
  std::mt19937 random(1);
  std::vector<uint8_t> bytes(BytesPerLine);
  std::vector<std::string> lines;
  lines.reserve(lineCount);
  for (size_t i = 0; i < lineCount; ++i) {
    for (auto& b : bytes)
      b = static_cast<uint8_t>(random() & 0x7F);
    const uint8_t* data = bytes.data();
    int remaining = BytesPerLine;
    std::string text;
    FormatHexLine(data, remaining, -1, text);
    lines.push_back(std::move(text));
  }
  return lines;
}

// A bulk dump: SysEx messages of 64 to 1024 bytes, 10 MB in all.
std::vector<uint8_t> MakeBulkDump() {
  std::mt19937 random(2);
  std::vector<uint8_t> dump;
  dump.reserve(SysExTotal);
  while (dump.size() < SysExTotal) {
    const size_t length = 64 + random() % 961;
    dump.push_back(0xF0);
    for (size_t i = 2; i < length; ++i)
      dump.push_back(static_cast<uint8_t>(random() & 0x7F));
    dump.push_back(0xF7);
  }
  dump.resize(SysExTotal);
  return dump;
}

void BM_ParseLine(benchmark::State& state) {
  const auto lines = MakeHexLines(4096);
  size_t textBytes = 0;
  for (const auto& line : lines)
    textBytes += line.size();
  THexParser parser;
  for (auto _ : state) {
    int index = 0;
    for (const auto& line : lines) {
      int count = 0;
      parser.ParseLine(index++, line, count);
      benchmark::DoNotOptimize(count);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textBytes));
}
BENCHMARK(BM_ParseLine);

// Arg: split threshold (-1 = split off, cut only before status bytes).
void BM_FormatHexLine(benchmark::State& state) {
  const auto dump = MakeBulkDump();
  const int limit = static_cast<int>(state.range(0));
  std::string text;
  for (auto _ : state) {
    const uint8_t* data = dump.data();
    int remaining = static_cast<int>(dump.size());
    while (remaining > 0) {
      FormatHexLine(data, remaining, limit, text);
      benchmark::DoNotOptimize(text.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(BM_FormatHexLine)->Arg(-1)->Arg(32)->Unit(benchmark::kMillisecond);

// The whole path into one text with a line break after every line: the same
// output that `xxd -p` writes, for comparing the two side by side.
void BM_AddLongMessageLines(benchmark::State& state) {
  const auto dump = MakeBulkDump();
  const int limit = static_cast<int>(state.range(0));
  std::string text;
  for (auto _ : state) {
    text.clear();
    AddLongMessageLines(dump.data(), static_cast<int>(dump.size()), limit,
                        [&](std::string_view line) {
                          text.append(line);
                          text += '\n';
                        },
                        {});
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(BM_AddLongMessageLines)->Arg(-1)->Arg(32)->Unit(benchmark::kMillisecond);

// Into a list that keeps every line as a string of its own, as the In box's line
// store does: one allocation per line. Freeing the list afterwards is not part of
// receiving, so it happens outside the timed region.
void BM_AddLongMessageLinesToStringList(benchmark::State& state) {
  const auto dump = MakeBulkDump();
  const int limit = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<std::string> lines;
    AddLongMessageLines(dump.data(), static_cast<int>(dump.size()), limit,
                        [&](std::string_view line) { lines.emplace_back(line); }, {});
    benchmark::DoNotOptimize(lines.data());
    state.PauseTiming();
    lines = {};
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(BM_AddLongMessageLinesToStringList)->Arg(-1)->Arg(32)->Unit(benchmark::kMillisecond);

} // namespace
