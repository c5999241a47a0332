// What the JACK backend writes, as a peer that reads single JACK events sees it:
// readers such as PipeWire's JACK layer take every event on its own and drop one
// that starts with a data byte, so each event must hold one whole message.
#include "jack_fixture.h"
#include "support/midi_collectors.h"

#include <chrono>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Events = std::vector<Bytes>;

class JackRawOutputTest : public JackOutputTest {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }

  // Sends bytes in long buffers of at most lineBytes, as the Out box's lines go.
  void SendLines(const Bytes& bytes, size_t lineBytes) {
    for (size_t at = 0; at < bytes.size(); at += lineBytes) {
      const size_t count = std::min(lineBytes, bytes.size() - at);
      ASSERT_EQ(FSender.SendLong(*FPort, Bytes(bytes.begin() + at, bytes.begin() + at + count)),
                MidiOk);
    }
  }

  Events Receive(size_t bytes) { return FPeer->ReceiveEvents("dst", bytes, WaitMs); }
};

Bytes Joined(const Events& events) {
  Bytes all;
  for (const Bytes& event : events)
    all.insert(all.end(), event.begin(), event.end());
  return all;
}

TEST_F(JackRawOutputTest, RunningStatusGoesOutAsWholeMessagesOfTheirOwn) {
  ASSERT_EQ(FSender.SendLong(*FPort, {0x90, 0x3C, 0x40, 0x3E, 0x40}), MidiOk);
  ASSERT_EQ(FPort->ShortMsg(0x05C0), MidiOk);
  EXPECT_EQ(Receive(8), (Events{{0x90, 0x3C, 0x40}, {0x90, 0x3E, 0x40}, {0xC0, 0x05}}));
}

TEST_F(JackRawOutputTest, EachSysExArrivesAsOneEventWhateverBuffersCarriedIt) {
  const Bytes small = SysEx(6, 1), oneK = SysEx(1024, 2), dump = SysEx(20 * 1024, 3);
  ASSERT_EQ(FSender.SendLong(*FPort, small), MidiOk);
  SendLines(oneK, 128); // as the send engine hands a long line over
  SendLines(dump, 32);  // as the Out box holds a split dump
  const Events events = Receive(small.size() + oneK.size() + dump.size());
  ASSERT_EQ(events.size(), 3u) << "every SysEx must be one event";
  EXPECT_EQ(events[0], small);
  EXPECT_EQ(events[1], oneK);
  EXPECT_EQ(Difference(events[2], dump), "");
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
}

TEST_F(JackRawOutputTest, ASysExLargerThanAnyEventGoesInFullPiecesAndRealTimeStaysApart) {
  // A clock byte inside the SysEx is an event of its own; the SysEx around it
  // still goes out as one message.
  Bytes big = SysEx(100 * 1024, 4);
  Bytes sent = big;
  sent.insert(sent.begin() + 500, 0xF8);
  SendLines(sent, 1000);
  ASSERT_EQ(FPort->ShortMsg(0x403C90), MidiOk);
  const Events events = Receive(sent.size() + 3);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.front(), Bytes{0xF8});
  EXPECT_EQ(events.back(), (Bytes{0x90, 0x3C, 0x40}));
  const Events pieces(events.begin() + 1, events.end() - 1);
  EXPECT_EQ(Difference(Joined(pieces), big), "");
  // Pieces are as large as an event may be, so only the first starts without a
  // status byte missing: a reader that drops the rest still sees where it began.
  for (size_t i = 0; i + 1 < pieces.size(); ++i)
    EXPECT_EQ(pieces[i].size(), pieces[0].size()) << "piece " << i;
  EXPECT_EQ(pieces[0][0], 0xF0);
}

// A message held back for its rest waits for it however long it takes; a flush,
// a reset and closing send it as it came. Later data bytes never start an event.
TEST_F(JackRawOutputTest, AHeldBackMessageWaitsForItsRestAndGoesOutOnFlushResetOrClose) {
  ASSERT_EQ(FSender.SendLong(*FPort, {0xF0, 0x41, 0x10}), MidiOk);
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs)) << "a buffer waits for no later one";
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(FSender.SendLong(*FPort, {0x42, 0x12, 0xF7}), MidiOk);
  EXPECT_EQ(Receive(6), (Events{{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}}));

  ASSERT_EQ(FSender.SendLong(*FPort, {0xF0, 0x7D, 0x01, 0x02, 0x03}), MidiOk);
  ASSERT_EQ(FPort->Flush(), MidiOk);
  EXPECT_EQ(Receive(5), (Events{{0xF0, 0x7D, 0x01, 0x02, 0x03}}));
  ASSERT_EQ(FSender.SendLong(*FPort, {0x01, 0x02, 0x90, 0x3C, 0x40}), MidiOk);
  EXPECT_EQ(Receive(3), (Events{{0x90, 0x3C, 0x40}}));

  ASSERT_EQ(FSender.SendLong(*FPort, {0x90, 0x3C, 0x40, 0x3E}), MidiOk);
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
  ASSERT_EQ(FPort->Reset(), MidiOk);
  EXPECT_EQ(Receive(5), (Events{{0x90, 0x3C, 0x40}, {0x90, 0x3E}}));

  ASSERT_EQ(FSender.SendLong(*FPort, {0xF0, 0x7D, 0x01}), MidiOk);
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
  FPort.reset();
  EXPECT_EQ(Receive(3), (Events{{0xF0, 0x7D, 0x01}}));
}

TEST_F(JackRawOutputTest, AConnectionRemovedFromOutsideMakesSendsFail) {
  ASSERT_EQ(FPort->ShortMsg(0x403C90), MidiOk);
  ASSERT_TRUE(FPeer->Ok("unplug dst"));
  TMidiResult result = MidiOk;
  for (int i = 0; i < 500 && result == MidiOk; ++i) {
    result = FPort->ShortMsg(0x403C90);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, MidiErrNoDevice);
  EXPECT_EQ(FSender.SendLong(*FPort, SysEx(10, 1)), MidiErrNoDevice);
}

class JackRawInputTest : public JackInputTest {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }
};

TEST_F(JackRawInputTest, ADisconnectFromOutsideIsReported) {
  ASSERT_TRUE(FPeer->Ok("send src F0 01 02"));
  ASSERT_TRUE(FPeer->Ok("unplug src"));
  for (int i = 0; i < 500 && FCollector.Disconnects() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(FCollector.Disconnects(), 1);
  EXPECT_EQ(FCollector.LongErrors(), 1) << "the SysEx under way comes back cut short";
}

TEST_F(JackRawInputTest, StopAfterAStallDeliversOrReportsEveryByte) {
  // The caller keeps every buffer (a stalled UI) while 1 MB arrives, then stops.
  FCollector.Stall(true);
  const Bytes sent = TaggedBurst(0, 1024, 1024);
  ASSERT_TRUE(FPeer->SendBytes("src", sent));
  // The peer has written its last period; give the service thread time to take it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(FPort->Stop(), MidiOk);
  const size_t received = FCollector.WaitFor(0, 0).size();
  EXPECT_EQ(received + FCollector.LostBytes(), sent.size());
  EXPECT_EQ(FCollector.Overflows(), 1);
}

TEST_F(JackRawInputTest, ABacklogBeyondItsBoundLosesOnlyWhereTheBoundIsReached) {
  // 70 MB arrive while the caller keeps every buffer: the first 64 MiB wait, the
  // rest is lost at one place, and only the message there is cut.
  FCollector.Stall(true);
  const Bytes sent = TaggedBurst(0, 70 * 1024, 1000);
  ASSERT_TRUE(FPeer->SendBytes("src", sent));
  FCollector.Stall(false);
  const size_t bound = size_t{64} << 20;
  FCollector.WaitFor(bound - 1000, BurstWaitMs);
  const TTaggedCheck check = CheckTagged(FCollector.WaitFor(0, 0), FCollector.LossOffsets());
  EXPECT_EQ(check.Problem, "");
  EXPECT_EQ(FCollector.Overflows(), 1);
  EXPECT_LE(check.Cut, 1u);
  EXPECT_GE(check.Whole, bound / 1000 - 1);
}

TEST_F(JackTest, OpeningAPortThatRefusesSaysSo) {
  // The listed port is replaced by one of another type under the same name: it
  // exists, but refuses a MIDI connection.
  TPeerProcess raw(TPeerKind::RawEvents);
  ASSERT_TRUE(raw.Ok("open_out odd"));
  const int index = WaitForInput(TPeerProcess::PortName("odd"));
  ASSERT_GE(index, 0);
  ASSERT_TRUE(raw.Ok("close odd"));
  ASSERT_TRUE(raw.Ok("open_audio odd"));
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> port;
  const TMidiResult result = FService->OpenInput(index, collector.Callback(), port);
  std::string text;
  EXPECT_EQ(FService->InErrorText(result, text), MidiOk);
  EXPECT_EQ(text, "The JACK server refused the connection to this port.");
}

} // namespace
} // namespace pelrow::testing
