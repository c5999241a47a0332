// The device layer over JACK under load: a UI thread that drains in a loop gets
// every byte of a burst, because the backend keeps what the device layer has no
// buffer for instead of dropping it.
#include "jack_fixture.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "support/clock.h"
#include "support/midi_collectors.h"
#include "support/queued_poster.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;

void AppendEvent(const TMyMidiEvent& event, Bytes& bytes) {
  if (event.Length > 0) {
    bytes.insert(bytes.end(), event.Data.get(), event.Data.get() + event.Length);
    return;
  }
  const uint8_t all[3] = {event.Status, event.Data1, event.Data2};
  bytes.insert(bytes.end(), all, all + MessageLength(event));
}

TEST_F(JackTest, DeviceLayerReceivesATwoMegabyteBurstWithoutLoss) {
  const int index = OpenPeerSource("src");
  ASSERT_GE(index, 0);
  TQueuedPoster poster;
  TMidiInput input(*FService, poster);
  int overflows = 0;
  input.OnOverflow = [&](TMidiInput&) { ++overflows; };
  input.SetDeviceID(index);
  input.Open();
  input.Start();

  const Bytes burst = SysExBurst(2048, 1024);
  bool sent = false;
  std::thread sender([&] { sent = FPeer->SendBytes("src", burst); });
  Bytes received;
  bool interrupted = false;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(BurstWaitMs);
  while (received.size() < burst.size() && std::chrono::steady_clock::now() < limit) {
    poster.RunPending();
    while (auto event = input.GetEvent()) {
      interrupted = interrupted || event->Gap == TInputGap::MayBeLost;
      AppendEvent(*event, received);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sender.join();
  input.Stop();
  input.Close();

  EXPECT_TRUE(sent);
  EXPECT_EQ(DifferenceBesideCuts(received, burst, interrupted), "");
  EXPECT_EQ(overflows, 0);
}

TEST_F(JackTest, DeviceLayerSendsChunkedSysExToThePeer) {
  const int index = OpenPeerDestination("dst");
  ASSERT_GE(index, 0);
  TMidiOutput output(*FService);
  output.SetDeviceID(index);
  output.Open();

  const Bytes sysEx = SysEx(64 * 1024, 5);
  const int32_t handedOver =
      output.SendLongChunked(sysEx.data(), int32_t(sysEx.size()), [](TMidiOutput&, bool&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      });
  EXPECT_EQ(handedOver, int32_t(sysEx.size()));
  EXPECT_EQ(Difference(FPeer->Receive("dst", sysEx.size(), WaitMs), sysEx), "");
  output.Close();
}

} // namespace
} // namespace pelrow::testing
