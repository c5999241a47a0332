// Loading and saving the Out box with 10 MB files, side by side with xxd doing the
// same conversion (bytes to hex text and back) on the same files. The xxd runs are
// whole processes started with posix_spawn, so they include its start-up, which
// is a few milliseconds against hundreds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "app/file_loader.h"
#include "app/file_saver.h"
#include "editor/vkstrings.h"
#include "support/clock.h"
#include "support/safe_file.h"

extern char** environ;

namespace pelrow {
namespace {

constexpr std::size_t FileSize = 10 * 1000 * 1000;
constexpr int Threshold = 32;

struct TRandom {
  uint32_t State = 4711;
  uint32_t Next(uint32_t below) {
    State = State * 1664525u + 1013904223u;
    return (State >> 8) % below;
  }
};

// Bulk dumps: System Exclusive messages of 16 bytes to 8 KB.
std::string SysExDump(std::size_t size) {
  TRandom random;
  std::string bytes;
  bytes.reserve(size + 8192);
  while (bytes.size() < size) {
    const uint32_t length = 16 + random.Next(8192);
    bytes.push_back(static_cast<char>(0xF0));
    for (uint32_t i = 2; i < length; ++i)
      bytes.push_back(static_cast<char>(random.Next(128)));
    bytes.push_back(static_cast<char>(0xF7));
  }
  bytes.resize(size);
  return bytes;
}

std::string VarLen(uint32_t value) {
  std::string groups(1, static_cast<char>(value & 0x7F));
  while ((value >>= 7) != 0)
    groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  return groups;
}

std::string BigEndian32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// One track of System Exclusive events, a few of them stored as an F0 packet with
// F7 continuation packets, and a note now and then.
std::string SysExMidiFile(std::size_t size) {
  TRandom random;
  std::string track;
  track.reserve(size + 8192);
  while (track.size() < size) {
    const uint32_t length = 16 + random.Next(4096);
    std::string message(length - 1, '\0');
    for (auto& byte : message)
      byte = static_cast<char>(random.Next(128));
    message.back() = static_cast<char>(0xF7);
    if (random.Next(8) == 0) {
      const std::size_t half = message.size() / 2;
      track += VarLen(0) + '\xF0' + VarLen(uint32_t(half)) + message.substr(0, half);
      track += VarLen(10) + '\xF7' + VarLen(uint32_t(message.size() - half)) + message.substr(half);
    } else {
      track += VarLen(random.Next(100)) + '\xF0' + VarLen(uint32_t(message.size())) + message;
    }
    track += VarLen(0) + "\x90\x3C\x40";
  }
  track += std::string("\x00\xFF\x2F\x00", 4);
  return std::string("MThd") + BigEndian32(6) + std::string("\x00\x00\x00\x01\x00\x60", 6) +
         "MTrk" + BigEndian32(uint32_t(track.size())) + track;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The bench files, made once and removed at exit.
struct TBenchFiles {
  std::string Folder;
  std::string Syx, Hex, Mid;

  TBenchFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelrow-bench-XXXXXX").string();
    Folder = ::mkdtemp(pattern.data()) ? pattern : "/tmp";
    Syx = Folder + "/dump.syx";
    Hex = Folder + "/dump.hex";
    Mid = Folder + "/dump.mid";
    WriteFile(Syx, SysExDump(FileSize));
    WriteFile(Mid, SysExMidiFile(FileSize));
  }
  ~TBenchFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
};

const TBenchFiles& Files() {
  static const TBenchFiles files;
  return files;
}

// Runs xxd with the arguments, its output to outputPath; true when it succeeded.
bool RunXxd(const std::vector<std::string>& args, const std::string& outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv;
  std::string program = "xxd";
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int failed = ::posix_spawnp(&child, "xxd", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

void LoadInto(const std::string& path, TVKStrings& lines, benchmark::State& state) {
  TFileLoader loader(SteadyClock());
  int reports = 0;
  loader.ShowStatus = [&](const std::string&, TStatusSide, TStatusKind kind, bool) {
    if (kind == TStatusKind::ErrorBox)
      state.SkipWithError("load failed");
    ++reports;
  };
  loader.LoadFile(path, lines, Threshold);
  benchmark::DoNotOptimize(reports);
}

void BM_LoadSyx10MB(benchmark::State& state) {
  const std::string& path = Files().Syx;
  for (auto _ : state) {
    TVKStrings lines;
    LoadInto(path, lines, state);
    state.counters["lines"] = lines.Count();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize));
}
BENCHMARK(BM_LoadSyx10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XxdPlain10MB(benchmark::State& state) {
  const std::string& path = Files().Syx;
  for (auto _ : state)
    if (!RunXxd({"-p", path}, "/dev/null"))
      state.SkipWithError("xxd -p failed");
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize));
}
BENCHMARK(BM_XxdPlain10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveSyx10MB(benchmark::State& state) {
  TVKStrings lines;
  LoadInto(Files().Syx, lines, state);
  TFileSaver saver;
  saver.SetShowStatus([&](const std::string&, TStatusSide, TStatusKind kind, bool) {
    if (kind != TStatusKind::Plain)
      state.SkipWithError("save failed");
  });
  const std::string target = Files().Folder + "/saved.syx";
  for (auto _ : state)
    saver.SaveFile(target, lines, TStatusSide::Out);
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize));
}
BENCHMARK(BM_SaveSyx10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10,000 files of 1 KB, as a box of bulk-dump messages is saved one file per
// message: one after the other as WriteFileAtomically writes a file (two waits for
// the disk each), or in one TFileBatch (one wait for 2,048 files), side by side
// under the same load on the disk. Every run writes into a new folder, and none is
// removed before the end: ext4 is slow to create files just after many were deleted.
void BM_WriteFiles10000(benchmark::State& state) {
  const bool batched = state.range(0) == 1;
  const std::string bytes(1024, '\x11');
  constexpr int Count = 10000;
  int run = 0;
  for (auto _ : state) {
    const std::string folder =
        Files().Folder + "/files-" + std::to_string(batched) + "-" + std::to_string(++run);
    std::filesystem::create_directory(folder);
    TFileBatch batch;
    bool written = true;
    for (int i = 0; i < Count && written; ++i) {
      const std::string path = folder + "/" + std::to_string(i) + ".syx";
      TWriteFailure failure;
      written = batched ? batch.Write(path, bytes) && (batch.Pending() < 2048 || batch.Commit())
                        : WriteFileAtomically(path, bytes, failure);
    }
    if (!written || !batch.Commit())
      state.SkipWithError("a file could not be written");
  }
  state.counters["files_per_s"] =
      benchmark::Counter(double(Count) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteFiles10000)
    ->ArgName("batched")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_XxdRevert10MB(benchmark::State& state) {
  const TBenchFiles& files = Files();
  if (!RunXxd({"-p", files.Syx}, files.Hex)) {
    state.SkipWithError("xxd -p failed");
    return;
  }
  const std::string target = files.Folder + "/reverted.syx";
  for (auto _ : state)
    if (!RunXxd({"-r", "-p", files.Hex}, target))
      state.SkipWithError("xxd -r -p failed");
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize));
}
BENCHMARK(BM_XxdRevert10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadMid(benchmark::State& state) {
  const std::string& path = Files().Mid;
  for (auto _ : state) {
    TVKStrings lines;
    LoadInto(path, lines, state);
    state.counters["lines"] = lines.Count();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize));
}
BENCHMARK(BM_LoadMid)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace pelrow
