// SysEx throughput through a real JACK server, to and from a separate peer process:
// into GetEvent on a draining thread, and out through SendLong. Each run checks
// that every byte arrived; the benchmark starts a dummy server when none runs.
#ifdef PELROW_HAVE_JACK_TESTING

#include "support/queued_poster.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/midi_service.h"
#include "support/clock.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pelrow {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t BurstMessages = 1024; // 1 MB of 1 KB SysEx messages per iteration
constexpr size_t MessageBytes = 1024;
constexpr auto BurstLimit = std::chrono::seconds(60);

// Server, peer and service, or the reason why there are none.
struct TJackBench {
  std::string Failure;
  std::unique_ptr<testing::TPeerProcess> Peer;
  std::unique_ptr<TMidiService> Service;

  TJackBench() {
    if (testing::EnsureJackServer(Failure).empty())
      return;
    Peer = std::make_unique<testing::TPeerProcess>();
    Service = CreateJackMidiService(Failure);
  }
  int Find(const std::string& name, bool input) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < limit) {
      const int count = input ? Service->InputCount() : Service->OutputCount();
      for (int i = 0; i < count; ++i) {
        std::string listed;
        if ((input ? Service->InputName(i, listed) : Service->OutputName(i, listed)) == MidiOk &&
            listed == name)
          return i;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
};

void BM_JackSysExIn(benchmark::State& state) {
  TJackBench bench;
  if (!bench.Service || !bench.Peer->Ok("open_out bench")) {
    state.SkipWithError(("no JACK: " + bench.Failure).c_str());
    return;
  }
  TQueuedPoster poster;
  TMidiInput input(*bench.Service, poster);
  input.SetDeviceID(bench.Find(testing::TPeerProcess::PortName("bench"), true));
  input.Open();
  input.Start();
  const Bytes burst = testing::SysExBurst(BurstMessages, MessageBytes);
  for (auto _ : state) {
    bool sent = false;
    std::thread sender([&] { sent = bench.Peer->SendBytes("bench", burst); });
    size_t received = 0;
    bool intact = true;
    const auto limit = std::chrono::steady_clock::now() + BurstLimit;
    while (received < burst.size() && std::chrono::steady_clock::now() < limit) {
      poster.RunPending();
      while (auto event = input.GetEvent()) {
        intact = intact && event->Length > 0 && received + size_t(event->Length) <= burst.size() &&
                 std::equal(event->Data.get(), event->Data.get() + event->Length,
                            burst.begin() + std::ptrdiff_t(received));
        received += size_t(event->Length);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    sender.join();
    if (!sent || !intact || received != burst.size()) {
      state.SkipWithError("input was lost or changed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * burst.size()));
  input.Stop();
  input.Close();
}
BENCHMARK(BM_JackSysExIn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_JackSysExOut(benchmark::State& state) {
  TJackBench bench;
  if (!bench.Service || !bench.Peer->Ok("open_in bench")) {
    state.SkipWithError(("no JACK: " + bench.Failure).c_str());
    return;
  }
  TMidiOutput output(*bench.Service);
  output.SetDeviceID(bench.Find(testing::TPeerProcess::PortName("bench"), false));
  output.Open();
  const Bytes message = testing::SysEx(MessageBytes, 1);
  for (auto _ : state) {
    for (size_t i = 0; i < BurstMessages; ++i)
      output.SendLong(message.data(), int32_t(message.size()));
    const Bytes received = bench.Peer->Receive("bench", BurstMessages * MessageBytes,
                                               int(std::chrono::milliseconds(BurstLimit).count()));
    bool intact = received.size() == BurstMessages * MessageBytes;
    for (size_t at = 0; intact && at < received.size(); at += MessageBytes)
      intact = std::equal(message.begin(), message.end(), received.begin() + std::ptrdiff_t(at));
    if (!intact) {
      state.SkipWithError("output was lost or changed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * BurstMessages * MessageBytes));
  output.Close();
}
BENCHMARK(BM_JackSysExOut)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

} // namespace
} // namespace pelrow

#endif
