// pelrow-cli as a user runs it, whole process included: sending 2 MB at speed 1000
// to the JACK peer and receiving a 2 MB dump from it (every run checks that every
// byte arrived), and converting a 50 MB .syx to hex text and 50 MB of random bytes
// to hex text and back, side by side with `xxd -p` and `xxd -r -p` on the same
// content, all writing their output to the same folder.
#ifdef PELROW_CLI_PROGRAM

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef PELROW_HAVE_JACK_TESTING
#include "cli_process.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"
#endif

extern char** environ;

namespace pelrow {
namespace {

constexpr size_t ConvertFileSize = 50 * 1000 * 1000;

// A folder of its own for the run's files, removed at exit.
struct TBenchFolder {
  std::string Path;
  TBenchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pelrow-cli-bench-XXXXXX").string();
    Path = ::mkdtemp(pattern.data()) ? pattern : "/tmp";
  }
  ~TBenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::string File(const std::string& name) const { return Path + "/" + name; }
};

const TBenchFolder& Folder() {
  static const TBenchFolder folder;
  return folder;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
  }
  return bytes;
}

// Bulk dumps: whole System Exclusive messages of 16 bytes to 8 KB, size bytes in
// all (a receiver passes a message on only once its F7 has come).
std::vector<uint8_t> SysExDump(size_t size) {
  uint32_t state = 4711;
  const auto next = [&](uint32_t below) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % below;
  };
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const size_t remaining = size - bytes.size();
    size_t length = 16 + next(8192);
    if (length + 16 > remaining)
      length = remaining;
    bytes.push_back(0xF0);
    for (size_t i = 2; i < length; ++i)
      bytes.push_back(uint8_t(next(128)));
    bytes.push_back(0xF7);
  }
  return bytes;
}

// Runs a program to its end with its standard output in outputPath; true when it
// succeeded.
bool Run(std::vector<std::string> args, const std::string& outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int failed = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

const std::string& ConvertInput() {
  static const std::string path = [] {
    const std::string file = Folder().File("dump.syx");
    WriteFile(file, SysExDump(ConvertFileSize));
    return file;
  }();
  return path;
}

void RunEach(benchmark::State& state, const std::vector<std::string>& args,
             const std::string& outputPath) {
  for (auto _ : state)
    if (!Run(args, outputPath))
      state.SkipWithError((args[0] + " failed").c_str());
  state.SetBytesProcessed(int64_t(state.iterations() * ConvertFileSize));
}

void BM_CliConvertSyxToText50MB(benchmark::State& state) {
  RunEach(state, {PELROW_CLI_PROGRAM, "convert", ConvertInput(), Folder().File("dump.txt")},
          "/dev/null");
}
BENCHMARK(BM_CliConvertSyxToText50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_XxdPlainToFile50MB(benchmark::State& state) {
  RunEach(state, {"xxd", "-p", ConvertInput()}, Folder().File("dump.hex"));
}
BENCHMARK(BM_XxdPlainToFile50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Random bytes are the hardest case for hex lines: about half of them are status
// bytes, so the text is millions of short lines. Each direction runs side by side
// with xxd on the same content, each tool reading its own text form back.
std::vector<uint8_t> RandomBytes(size_t size) {
  uint32_t state = 2024;
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

const std::string& RandomInput() {
  static const std::string path = [] {
    const std::string file = Folder().File("random.syx");
    WriteFile(file, RandomBytes(ConvertFileSize));
    return file;
  }();
  return path;
}

void BM_CliConvertRandomToText50MB(benchmark::State& state) {
  RunEach(state, {PELROW_CLI_PROGRAM, "convert", RandomInput(), Folder().File("random.txt")},
          "/dev/null");
}
BENCHMARK(BM_CliConvertRandomToText50MB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_XxdPlainRandom50MB(benchmark::State& state) {
  RunEach(state, {"xxd", "-p", RandomInput()}, Folder().File("random.hex"));
}
BENCHMARK(BM_XxdPlainRandom50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_CliConvertRandomTextToSyx50MB(benchmark::State& state) {
  const std::string text = Folder().File("random-in.txt");
  if (!Run({PELROW_CLI_PROGRAM, "convert", RandomInput(), text}, "/dev/null"))
    state.SkipWithError("pelrow-cli convert failed");
  RunEach(state, {PELROW_CLI_PROGRAM, "convert", text, Folder().File("random-back.syx")},
          "/dev/null");
}
BENCHMARK(BM_CliConvertRandomTextToSyx50MB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_XxdRevertRandom50MB(benchmark::State& state) {
  const std::string hex = Folder().File("random-in.hex");
  if (!Run({"xxd", "-p", RandomInput()}, hex))
    state.SkipWithError("xxd -p failed");
  RunEach(state, {"xxd", "-r", "-p", hex}, Folder().File("random-back.bin"));
}
BENCHMARK(BM_XxdRevertRandom50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

#ifdef PELROW_HAVE_JACK_TESTING

using Bytes = std::vector<uint8_t>;
constexpr size_t JackDumpSize = 2 << 20;
constexpr int QuietMs = 200;
constexpr int WaitMs = 60000;

// The server and the peer with an input "dst" and an output "src", or why not.
struct TCliJackBench {
  std::string Failure;
  std::unique_ptr<testing::TPeerProcess> Peer;
  TCliJackBench() {
    if (testing::EnsureJackServer(Failure).empty())
      return;
    Peer = std::make_unique<testing::TPeerProcess>();
    if (!Peer->Ok("open_in dst") || !Peer->Ok("open_out src")) {
      Failure = "the peer could not open its ports";
      Peer.reset();
    }
  }
};

// From the start of the program until the peer holds every byte.
void BM_CliSendFullSpeedOverJack(benchmark::State& state) {
  TCliJackBench bench;
  if (!bench.Peer) {
    state.SkipWithError(("no JACK: " + bench.Failure).c_str());
    return;
  }
  const Bytes dump = SysExDump(JackDumpSize);
  const std::string file = Folder().File("send.syx");
  WriteFile(file, dump);
  const std::string dst = testing::TPeerProcess::PortName("dst");
  for (auto _ : state) {
    testing::TCliProcess process({"--midi=jack", "send", "--out", dst, "--speed", "1000", file},
                                 Folder().Path);
    const Bytes received = bench.Peer->Receive("dst", dump.size(), WaitMs);
    state.PauseTiming();
    const testing::TCliResult result = process.Wait();
    if (result.Status != 0 || received != dump) {
      state.SkipWithError(
          ("lost or changed: " + testing::Difference(received, dump) + " " + result.Err).c_str());
      break;
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * dump.size()));
}
BENCHMARK(BM_CliSendFullSpeedOverJack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// From the peer's first byte until the program has written the whole dump and
// ended, less the quiet time it waits for by design.
void BM_CliReceiveOverJack(benchmark::State& state) {
  TCliJackBench bench;
  if (!bench.Peer) {
    state.SkipWithError(("no JACK: " + bench.Failure).c_str());
    return;
  }
  const Bytes dump = SysExDump(JackDumpSize);
  const std::string src = testing::TPeerProcess::PortName("src");
  const std::string file = Folder().File("received.syx");
  for (auto _ : state) {
    std::remove(file.c_str());
    const int before = testing::JackConnections(src);
    testing::TCliProcess process(
        {"--midi=jack", "receive", "--in", src, "--quiet", std::to_string(QuietMs), "-o", file},
        Folder().Path);
    if (!testing::WaitForMoreJackConnections(src, before, WaitMs)) {
      state.SkipWithError("pelrow-cli did not connect");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    const bool sent = bench.Peer->SendBytes("src", dump);
    const auto sentAll = std::chrono::steady_clock::now();
    const testing::TCliResult result = process.Wait(WaitMs);
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count() - QuietMs / 1000.0);
    // How much of that the peer itself took to send: the rest is the program's.
    state.counters["peer_ms"] = std::chrono::duration<double, std::milli>(sentAll - start).count();
    const Bytes received = ReadFile(file);
    if (!sent || result.Status != 0 || received != dump) {
      state.SkipWithError(
          ("lost or changed: " + testing::Difference(received, dump) + " " + result.Err).c_str());
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * dump.size()));
}
BENCHMARK(BM_CliReceiveOverJack)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

#endif

} // namespace
} // namespace pelrow

#endif
