// Loading speed of the Standard MIDI File reader on a generated 10 MB format 1
// file: several tracks of note events under running status mixed with System
// Exclusive dumps of varied sizes, from memory and from disk.
#include "files/midi_smf.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace pelrow {
namespace {

using TBytes = std::vector<uint8_t>;

constexpr std::size_t FileSize = 10 * 1024 * 1024;
constexpr int Tracks = 8;

void PutBigEndian32(TBytes& to, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    to.push_back(static_cast<uint8_t>(value >> shift));
}

void PutVarLen(TBytes& to, uint32_t value) {
  uint8_t groups[4];
  int count = 0;
  do {
    groups[count++] = value & 0x7F;
    value >>= 7;
  } while (value != 0 && count < 4);
  while (count > 1)
    to.push_back(groups[--count] | 0x80);
  to.push_back(groups[0]);
}

// Deterministic pseudo-random numbers so every run measures the same file.
struct TRandom {
  uint32_t State = 12345;
  uint32_t Next(uint32_t below) {
    State = State * 1664525u + 1013904223u;
    return (State >> 8) % below;
  }
};

TBytes TrackBody(std::size_t size, TRandom& random) {
  TBytes body;
  body.reserve(size + 4096);
  while (body.size() < size) {
    PutVarLen(body, random.Next(200));
    if (random.Next(128) == 0) {
      // A SysEx message of 8 bytes to 1 KB.
      const uint32_t length = 8 + random.Next(1024);
      body.push_back(0xF0);
      PutVarLen(body, length);
      for (uint32_t i = 0; i + 1 < length; ++i)
        body.push_back(static_cast<uint8_t>(random.Next(128)));
      body.push_back(0xF7);
    } else if (random.Next(16) == 0) {
      body.push_back(static_cast<uint8_t>(0x90 | random.Next(16))); // new status
      body.push_back(static_cast<uint8_t>(random.Next(128)));
      body.push_back(static_cast<uint8_t>(random.Next(128)));
    } else {
      body.push_back(static_cast<uint8_t>(random.Next(128))); // running status
      body.push_back(static_cast<uint8_t>(random.Next(128)));
    }
  }
  const TBytes endOfTrack = {0x00, 0xFF, 0x2F, 0x00};
  body.insert(body.end(), endOfTrack.begin(), endOfTrack.end());
  return body;
}

const TBytes& GeneratedFile() {
  static const TBytes file = [] {
    TBytes bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, Tracks, 0x01, 0xE0};
    TRandom random;
    for (int i = 0; i < Tracks; ++i) {
      // The first note of a track sets its running status.
      TBytes body = {0x00, 0x90, 0x3C, 0x40};
      const TBytes rest = TrackBody(FileSize / Tracks, random);
      body.insert(body.end(), rest.begin(), rest.end());
      bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});
      PutBigEndian32(bytes, static_cast<uint32_t>(body.size()));
      bytes.insert(bytes.end(), body.begin(), body.end());
    }
    return bytes;
  }();
  return file;
}

void BM_SMFLoad(benchmark::State& state) {
  const TBytes& file = GeneratedFile();
  TSMF smf;
  for (auto _ : state) {
    smf.LoadFromMemory(file);
    benchmark::DoNotOptimize(smf.TrackCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_SMFLoad)->Unit(benchmark::kMillisecond);

void BM_SMFLoadFile(benchmark::State& state) {
  const TBytes& file = GeneratedFile();
  const auto path = std::filesystem::temp_directory_path() /
                    ("pelrow_bench_smf_" + std::to_string(::getpid()) + ".mid");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  TSMF smf;
  for (auto _ : state) {
    smf.LoadFromFile(path.string());
    benchmark::DoNotOptimize(smf.TrackCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_SMFLoadFile)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pelrow
