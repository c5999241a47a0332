// How fast the send engine's pacing lets data out, measured where it lands: a peer
// process on a real JACK server records each event as it arrives, and the rate is
// the slope of the bytes received over their arrival times, so the head start the
// engine allows itself at the beginning does not count. Each run sends a split
// dump of 128-byte SysEx messages, about four seconds' worth at the expected rate.
#ifdef PELROW_HAVE_JACK_TESTING

#include "midi/midi_output.h"
#include "midi/service/midi_service.h"
#include "support/engine_send.h"
#include "support/jack_test_server.h"
#include "support/peer_process.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace pelrow {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double RunSeconds = 4.0;
constexpr size_t MessageBytes = 128;
constexpr int DeliveryWaitMs = 30000;

struct TArrival {
  double Seconds;
  double Bytes;
};

// Bytes the peer has recorded, noted each time the count grows.
class TArrivalLog {
public:
  TArrivalLog(testing::TPeerProcess& peer, std::string port)
      : FPeer(peer), FPort(std::move(port)), FStart(Clock::now()), FThread([this] { Run(); }) {}
  ~TArrivalLog() { Stop(); }

  // Waits until total bytes arrived (or the limit passed) and stops polling.
  bool WaitFor(size_t total, int limitMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (FLast.load() < total && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Stop();
    return FLast.load() >= total;
  }
  const std::vector<TArrival>& Arrivals() const { return FArrivals; }

private:
  void Stop() {
    FQuit = true;
    if (FThread.joinable())
      FThread.join();
  }
  void Run() {
    while (!FQuit.load()) {
      const std::string reply = FPeer.Command("count " + FPort);
      const auto now = Clock::now();
      if (reply.rfind("ok ", 0) == 0) {
        const size_t count = std::stoul(reply.substr(3));
        if (count > FLast.load()) {
          FArrivals.push_back({std::chrono::duration<double>(now - FStart).count(), double(count)});
          FLast = count;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  testing::TPeerProcess& FPeer;
  std::string FPort;
  Clock::time_point FStart;
  std::vector<TArrival> FArrivals;
  std::atomic<size_t> FLast{0};
  std::atomic<bool> FQuit{false};
  std::thread FThread;
};

// Least-squares slope of bytes over seconds.
double Slope(const std::vector<TArrival>& points) {
  if (points.size() < 2)
    return 0.0;
  double meanT = 0, meanB = 0;
  for (const TArrival& p : points) {
    meanT += p.Seconds;
    meanB += p.Bytes;
  }
  meanT /= double(points.size());
  meanB /= double(points.size());
  double sxy = 0, sxx = 0;
  for (const TArrival& p : points) {
    sxy += (p.Seconds - meanT) * (p.Bytes - meanB);
    sxx += (p.Seconds - meanT) * (p.Seconds - meanT);
  }
  return sxx > 0 ? sxy / sxx : 0.0;
}

int FindOutput(TMidiService& service, const std::string& name) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end) {
    for (int i = 0; i < service.OutputCount(); ++i) {
      std::string listed;
      if (service.OutputName(i, listed) == MidiOk && listed == name)
        return i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// Arguments: the speed setting and the rate it should give, in bytes/s.
void BM_SendPacing(benchmark::State& state) {
  const int speed = int(state.range(0));
  const double expected = double(state.range(1));
  std::string failure;
  if (testing::EnsureJackServer(failure).empty()) {
    state.SkipWithError(("no JACK: " + failure).c_str());
    return;
  }
  testing::TPeerProcess peer(testing::TPeerKind::RawEvents);
  std::unique_ptr<TMidiService> service = CreateJackMidiService(failure);
  if (!service || !peer.Ok("open_in dst")) {
    state.SkipWithError(("no JACK: " + failure).c_str());
    return;
  }
  TMidiOutput output(*service);
  output.SetDeviceID(FindOutput(*service, testing::TPeerProcess::PortName("dst")));
  output.Open();

  const size_t messages = size_t(std::lround(expected * RunSeconds / double(MessageBytes)));
  const testing::TSplitDump dump = testing::SplitDump(messages * MessageBytes, MessageBytes, false);
  double measured = 0.0;
  for (auto _ : state) {
    TArrivalLog log(peer, "dst");
    std::string sendFailure;
    const int sent = testing::SendThroughEngine(output, dump.Lines, speed, sendFailure);
    const bool arrived = log.WaitFor(dump.Bytes.size(), DeliveryWaitMs);
    const auto events = peer.ReceiveEvents("dst", dump.Bytes.size(), DeliveryWaitMs);
    if (!sendFailure.empty() || sent != int(dump.Bytes.size()) || !arrived ||
        testing::CheckWholeMessages(events, dump.Bytes) != "") {
      state.SkipWithError(("the dump did not arrive whole: " + sendFailure).c_str());
      break;
    }
    measured = Slope(log.Arrivals());
  }
  output.Close();
  const double error = (measured - expected) / expected * 100.0;
  state.counters["peer_bytes_per_s"] = measured;
  state.counters["expected_bytes_per_s"] = expected;
  state.counters["error_pct"] = error;
  state.counters["within_1pct"] = std::fabs(error) <= 1.0 ? 1 : 0;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dump.Bytes.size()));
}
BENCHMARK(BM_SendPacing)
    ->Args({0, 3125})
    ->Args({-500, 990})
    ->Args({875, 23381})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace
} // namespace pelrow

#endif
