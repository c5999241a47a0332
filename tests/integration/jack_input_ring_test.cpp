// The ring between the JACK process callback and the service thread, driven by
// hand (no server needed) into a real input stream: a reader that stalls while
// events keep coming loses input, and the loss must show exactly where it was,
// with its size; an interruption is a warning at its place, never a loss, also when
// the server tells of it only after the events that came after it.
#include "midi/service/jack/jack_input_hold.h"
#include "midi/service/jack/jack_input_ring.h"
#include "midi/service/midi_input_stream.h"
#include "support/clock.h"
#include "support/midi_collectors.h"

#include <gtest/gtest.h>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class JackInputRing : public ::testing::Test {
protected:
  static constexpr size_t RingBytes = 16 * 1024;
  static constexpr size_t EventBytes = 100; // a SysEx larger than this comes in pieces

  void SetUp() override {
    FCollector.Attach(FStream);
    FStream.Start();
  }
  void TearDown() override { FCollector.Detach(); }

  // Cuts messages into events as a JACK source does: a head piece and
  // continuation pieces.
  void Queue(const Bytes& messages) {
    size_t start = 0;
    for (size_t i = 1; i <= messages.size(); ++i) {
      if (i < messages.size() && messages[i] != 0xF0)
        continue;
      for (size_t at = start; at < i; at += EventBytes)
        FEvents.emplace_back(messages.begin() + std::ptrdiff_t(at),
                             messages.begin() + std::ptrdiff_t(std::min(at + EventBytes, i)));
      start = i;
    }
  }
  // One process cycle: the next few events go into the ring.
  void Cycle() {
    FRing.FlushMarks();
    for (int i = 0; i < 8 && FNext < FEvents.size(); ++i, ++FNext)
      if (!FRing.Write(FTime++, FEvents[FNext].data(), uint32_t(FEvents[FNext].size())))
        FDropped += FEvents[FNext].size();
  }
  // The reader drains while the process callback goes on: a cycle every few events.
  void DrainWhileWriting() {
    int records = 0;
    FRing.Drain(
        [&](uint64_t, const uint8_t* data, size_t size) {
          FStream.Feed(data, size);
          if (++records % 4 == 0)
            Cycle();
        },
        [&](uint64_t, uint32_t lost) {
          FStream.FeedLost(TimeGetTime(), lost);
          FRingLost += lost;
        },
        [&](uint64_t, uint32_t) { FStream.FeedInterrupted(TimeGetTime()); });
  }

  TJackInRing FRing{RingBytes};
  TInputCollector FCollector;
  TMidiInputStream FStream{FCollector.Callback()};
  std::vector<Bytes> FEvents;
  size_t FNext = 0;
  uint64_t FTime = 0;
  uint64_t FDropped = 0;
  uint64_t FRingLost = 0;
};

TEST_F(JackInputRing, AStalledReaderLosesOnlyTheMessagesTheGapsCut) {
  // The reader stalls while twice what the ring holds arrives, then drains while
  // events go on arriving, and stalls again.
  const Bytes sent = TaggedBurst(0, 4 * RingBytes / 300, 300);
  Queue(sent);
  while (FNext < FEvents.size()) {
    for (int i = 0; i < int(2 * RingBytes / (8 * EventBytes)); ++i)
      Cycle();
    DrainWhileWriting();
  }
  FRing.FlushMarks(); // the cycle after the reader caught up
  DrainWhileWriting();
  EXPECT_EQ(FRingLost, FDropped) << "every dropped byte is counted";
  // A last message behind everything shows when the stream has delivered it all.
  const Bytes last = TaggedSysEx(100000, 50);
  FStream.Feed(last.data(), last.size());
  Bytes received;
  for (int tries = 0; tries < 500; ++tries) {
    received = FCollector.WaitFor(received.size() + 1, 10);
    if (received.size() >= last.size() &&
        Bytes(received.end() - std::ptrdiff_t(last.size()), received.end()) == last)
      break;
  }
  const size_t losses = FCollector.LossOffsets().size();
  ASSERT_GT(losses, 0u);
  const TTaggedCheck check = CheckTagged(received, FCollector.LossOffsets());
  EXPECT_EQ(check.LastNumber, 100000u);
  EXPECT_EQ(check.Problem, "");
  EXPECT_LE(check.Cut, losses) << "only a message a gap interrupts is cut";
  EXPECT_EQ(received.size() + FCollector.LostBytes(), sent.size() + last.size())
      << "every byte is delivered or counted as lost";
  EXPECT_GT(check.Whole, 20u);
}

// An xrun is a warning between the events around it, and no loss.
TEST_F(JackInputRing, AnXrunIsAWarningBetweenTheEventsAroundIt) {
  const Bytes first = TaggedSysEx(1, 50), second = TaggedSysEx(2, 50);
  FRing.Write(0, first.data(), uint32_t(first.size()));
  FRing.MarkInterrupted(1);
  FRing.Write(2, second.data(), uint32_t(second.size()));
  DrainWhileWriting();
  const Bytes received = FCollector.WaitFor(100, 5000);
  EXPECT_EQ(FCollector.InterruptOffsets(), std::vector<size_t>{50});
  EXPECT_EQ(FCollector.Overflows(), 0);
  EXPECT_EQ(CheckTagged(received, {}).Whole, 2u);
}

// The server tells of an xrun on its own thread, so the process callback marks it
// behind events of later cycles. Held back, they go behind the mark: the message
// whose middle the xrun took is cut there, not joined to its end.
TEST_F(JackInputRing, AnXrunToldLateCutsTheMessageItInterrupted) {
  const Bytes message = TaggedSysEx(1, 150);
  FRing.Write(0, message.data(), 50);
  FRing.Write(20'000, message.data() + 100, 50); // the middle went in the xrun
  FRing.MarkInterrupted(10'000);
  TJackInputHold hold;
  FRing.Drain(
      [&](uint64_t time, const uint8_t* data, size_t size) { hold.Event(time, data, size); },
      [&](uint64_t time, uint32_t lost) { hold.Loss(time, lost); },
      [&](uint64_t time, uint32_t span) { hold.Interruption(time, span); });
  hold.Release(UINT64_MAX, [&](const TJackInputHold::TRecord& record) {
    if (record.Kind == TJackInputHold::TKind::Interruption)
      FStream.FeedInterrupted(TimeGetTime());
    else
      FStream.Feed(record.Bytes.data(), record.Bytes.size());
  });
  const Bytes received = FCollector.WaitFor(50, 5000);
  for (int i = 0; i < 500 && FCollector.InterruptOffsets().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const TTaggedCheck check = CheckTagged(received, FCollector.InterruptOffsets());
  EXPECT_EQ(check.Problem, "");
  EXPECT_EQ(check.Cut, 1u);
  EXPECT_EQ(received.size(), 50u) << "the end of the cut message is not kept";
}

} // namespace
} // namespace pelrow::testing
