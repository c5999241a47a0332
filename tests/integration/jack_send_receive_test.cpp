// The send engine and the receive pump end to end over JACK, against a peer
// process that sees single events: what the Out box holds arrives byte for byte as
// whole messages, and a bulk dump from the peer ends up in the In box line for line.
#include "jack_fixture.h"
#include "support/engine_send.h"
#include "support/midi_collectors.h"

#include "app/line_formatter.h"
#include "app/receive_pump.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "support/clock.h"
#include "support/queued_poster.h"

#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class JackSendEngineTest : public JackTest {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return; // no server or peer: the failure is reported, nothing to set up on
    const int index = OpenPeerDestination("dst");
    ASSERT_GE(index, 0);
    FOutput = std::make_unique<TMidiOutput>(*FService);
    FOutput->SetDeviceID(index);
    FOutput->Open();
  }
  void TearDown() override {
    FOutput.reset();
    JackTest::TearDown();
  }

  void SendAndCompare(size_t sysExBytes, int speed) {
    // Messages of 1000 bytes end in a short line, and a Note On between them goes
    // the short path, in order with the long data around it.
    const TSplitDump dump = SplitDump(sysExBytes, 1000, true);
    std::string failure;
    ASSERT_EQ(SendThroughEngine(*FOutput, dump.Lines, speed, failure), int(dump.Bytes.size()))
        << failure;
    EXPECT_EQ(failure, "");
    const auto events = FPeer->ReceiveEvents("dst", dump.Bytes.size(), BurstWaitMs);
    EXPECT_EQ(CheckWholeMessages(events, dump.Bytes), "");
  }

  std::unique_ptr<TMidiOutput> FOutput;
};

TEST_F(JackSendEngineTest, A64KBSplitDumpArrivesWholeAtFullSpeed) {
  SendAndCompare(64 * 1024, 1000);
}

TEST_F(JackSendEngineTest, ASplitDumpArrivesWholeWhenPacedAtTheWireRate) {
  // 4 KB rather than 64 KB: at the wire rate that is 1.3 s instead of 21 s, and the
  // pauses between lines already fall inside every message.
  SendAndCompare(4 * 1024, 0);
}

// An event loop that sleeps as the command-line program's does and runs a step of
// the test's own whenever the engine lets events run.
class TStepLoop final : public TSendEventLoop {
public:
  explicit TStepLoop(std::function<void()> step) : FStep(std::move(step)) {}
  void ProcessPending() override { FStep(); }
  void Wait(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    FStep();
  }

private:
  std::function<void()> FStep;
};

TVKStrings Lines(std::initializer_list<const char*> texts) {
  TVKStrings lines;
  for (const char* text : texts)
    lines.Add(text);
  return lines;
}

TEST_F(JackSendEngineTest, BytesThatFormNoMessageAreReportedAndTheRestArrivesWhole) {
  TSleepingEventLoop loop;
  const TEngineSendReport report =
      SendThroughEngine(*FOutput, Lines({"F0 7D 01 F7", "01 02 03", "90 3C 40 3E 40"}), 1000, loop);
  EXPECT_EQ(report.Sent, 9);
  EXPECT_EQ(report.Failure, "Sent 9 bytes; bytes that form no MIDI message were not sent (3, the "
                            "first on line 2): this output carries whole messages only");
  EXPECT_EQ(FPeer->ReceiveEvents("dst", 10, WaitMs),
            (std::vector<Bytes>{{0xF0, 0x7D, 0x01, 0xF7}, {0x90, 0x3C, 0x40}, {0x90, 0x3E, 0x40}}));
}

// The window froze for longer than a second between two lines of a SysEx.
TEST_F(JackSendEngineTest, ASysExArrivesWholeThoughTheSendStallsBetweenItsLines) {
  const TSplitDump dump = SplitDump(2048, 2048, false);
  bool stalled = false;
  TStepLoop loop([&] {
    if (!std::exchange(stalled, true))
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  });
  const TEngineSendReport report = SendThroughEngine(*FOutput, dump.Lines, 0, loop);
  EXPECT_EQ(report.Failure, "");
  EXPECT_EQ(report.Outcome, "Sent 2048 bytes");
  EXPECT_EQ(CheckWholeMessages(FPeer->ReceiveEvents("dst", dump.Bytes.size(), WaitMs), dump.Bytes),
            "");
}

TEST_F(JackSendEngineTest, AnUnfinishedMessageAtTheEndOfASendGoesOutAsItWasSent) {
  const struct {
    const char* Line;
    int Sent;
    std::vector<Bytes> Events; // running status expanded
  } cases[] = {
      {"F0 7D 01 02 03", 5, {{0xF0, 0x7D, 0x01, 0x02, 0x03}}},
      {"90 3C 40 3E", 4, {{0x90, 0x3C, 0x40}, {0x90, 0x3E}}},
  };
  for (const auto& c : cases) {
    TSleepingEventLoop loop;
    const TEngineSendReport report = SendThroughEngine(*FOutput, Lines({c.Line}), 0, loop);
    size_t bytes = 0;
    for (const Bytes& event : c.Events)
      bytes += event.size();
    EXPECT_EQ(report.Failure, "") << c.Line;
    EXPECT_EQ(report.Outcome, "Sent " + std::to_string(c.Sent) + " bytes");
    EXPECT_EQ(FPeer->ReceiveEvents("dst", bytes, WaitMs), c.Events) << c.Line;
  }
}

TEST_F(JackSendEngineTest, InterruptionsOfTheServerDuringASendAreAWarning) {
  const TSplitDump dump = SplitDump(4096, 1000, true);
  bool stalled = false;
  TStepLoop loop([&] {
    if (!std::exchange(stalled, true)) {
      EXPECT_TRUE(FPeer->Ok("stall dst 100"));
    }
  });
  const TEngineSendReport report = SendThroughEngine(*FOutput, dump.Lines, 0, loop);
  EXPECT_EQ(report.Failure, "");
  EXPECT_EQ(report.Outcome, "Sent " + std::to_string(dump.Bytes.size()) + " bytes");
  ASSERT_EQ(report.Warnings.size(), 1u);
  EXPECT_TRUE(report.Warnings[0].starts_with("The JACK server reported ")) << report.Warnings[0];
  EXPECT_TRUE(report.Warnings[0].ends_with(
      " interruptions during the send; the receiver may have missed data"))
      << report.Warnings[0];
  EXPECT_EQ(CheckWholeMessages(FPeer->ReceiveEvents("dst", dump.Bytes.size(), WaitMs), dump.Bytes),
            "");
}

// An output that takes whole messages gets each SysEx at once and the pause its
// bytes earn after it: the first arrives at once, the rest spread over the time
// the speed gives for all of them.
TEST_F(JackSendEngineTest, TenSysExAtTheWireRateArriveWholeOneAfterAnother) {
  const TSplitDump dump = SplitDump(10 * 1024, 1024, false);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::optional<double> first, last;
  const auto poll = [&] {
    const std::string reply = FPeer->Command("count dst");
    const size_t count = reply.starts_with("ok ") ? std::stoul(reply.substr(3)) : 0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (count >= 1024 && !first)
      first = seconds;
    if (count >= dump.Bytes.size() && !last)
      last = seconds;
  };
  TStepLoop loop(poll);
  const TEngineSendReport report = SendThroughEngine(*FOutput, dump.Lines, 0, loop);
  while (!last && Clock::now() - start < std::chrono::milliseconds(WaitMs))
    poll();
  EXPECT_EQ(report.Failure, "");
  ASSERT_TRUE(first && last);
  EXPECT_LT(*first, 0.5);
  EXPECT_GE(*last, 2.9);
  const auto events = FPeer->ReceiveEvents("dst", dump.Bytes.size(), WaitMs);
  EXPECT_EQ(events.size(), 10u);
  EXPECT_EQ(CheckWholeMessages(events, dump.Bytes), "");
}

// The bulk-dump timer as the window runs it: it ticks on the steady clock while
// the test's loop polls it.
class TPolledTimer final : public TTimer {
public:
  void Start(uint32_t intervalMs) override {
    FInterval = intervalMs;
    FDue = SteadyClock().NowMs() + intervalMs;
    FActive = true;
  }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }
  void Poll() {
    if (FActive && int32_t(SteadyClock().NowMs() - FDue) >= 0) {
      FDue += FInterval;
      if (OnTimer)
        OnTimer(*this);
    }
  }

private:
  bool FActive = false;
  uint32_t FInterval = 0;
  uint32_t FDue = 0;
};

class THiddenPanel final : public TBulkPanel {
public:
  bool Visible() const override { return FVisible; }
  void Show() override { FVisible = true; }
  void Hide() override { FVisible = false; }
  void SetTexts(const std::string&, const std::string&, bool) override {}

private:
  bool FVisible = false;
};

class JackReceivePumpTest : public JackTest {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return; // no server or peer: the failure is reported, nothing to set up on
    const int index = OpenPeerSource("src");
    ASSERT_GE(index, 0);
    FThru = std::make_unique<TMidiOutput>(*FService);
    auto timer = std::make_unique<TPolledTimer>();
    FTimer = timer.get();
    FPump = std::make_unique<TReceivePump>(SteadyClock(), std::move(timer), FLines, FPanel, *FThru,
                                           [this](const std::string& text, TStatusSide, TStatusKind,
                                                  bool) { FStatus.push_back(text); });
    FInput = std::make_unique<TMidiInput>(*FService, FPoster);
    FInput->SetDeviceID(index);
    FInput->OnMidiData = [this](TMidiInput& sender) { FPump->MidiInData(sender); };
    FInput->Open();
    FInput->Start();
  }
  void TearDown() override {
    if (FInput) {
      FInput->Stop();
      FInput->Close();
    }
    FInput.reset();
    FPump.reset();
    FThru.reset();
    JackTest::TearDown();
  }

  // The window's event loop: input notices and the bulk timer, until done.
  bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      FPoster.RunPending();
      FTimer->Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  TVKStrings FBox;
  TVKStringsReceiveLines FLines{FBox};
  THiddenPanel FPanel;
  TQueuedPoster FPoster;
  TPolledTimer* FTimer = nullptr;
  std::vector<std::string> FStatus;
  std::unique_ptr<TMidiOutput> FThru;
  std::unique_ptr<TReceivePump> FPump;
  std::unique_ptr<TMidiInput> FInput;
};

TEST_F(JackReceivePumpTest, A200KBBulkDumpFillsTheInBoxWithExactlyItsLines) {
  // 100 messages of 2 KB: each arrives in several buffers, and the lines must
  // still be those of the whole message.
  constexpr size_t Messages = 100, MessageBytes = 2048;
  FPump->Options().SplitLongMessages = true;
  FPump->Options().SplitLongMessagesThreshold = 32;
  std::vector<std::string> expected;
  const TAddLine addLine = [&](std::string_view line) { expected.emplace_back(line); };
  const Bytes dump = SysExBurst(Messages, MessageBytes);
  for (size_t at = 0; at < dump.size(); at += MessageBytes)
    AddLongMessageLines(dump.data() + at, int(MessageBytes), 32, addLine, nullptr);

  bool sent = false;
  std::thread sender([&] { sent = FPeer->SendBytes("src", dump); });
  bool collected = false;
  const bool shown = RunUntil(
      [&] {
        collected = collected || FPump->BulkMode();
        return FBox.Count() >= int(expected.size()) && !FPump->BulkMode();
      },
      std::chrono::seconds(60));
  sender.join();
  ASSERT_TRUE(sent);
  ASSERT_TRUE(shown) << FBox.Count() << " of " << expected.size() << " lines";
  EXPECT_TRUE(collected) << "the dump was shown as it came, not collected";
  // An xrun of the server (the machine is busy) may add its warning mark.
  std::vector<std::string> lines;
  for (int i = 0; i < FBox.Count(); ++i)
    if (MarkLineKind(FBox.Get(i)) != TMarkLine::Possible)
      lines.emplace_back(FBox.Get(i));
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i)
    ASSERT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_NE(std::find_if(FStatus.begin(), FStatus.end(),
                         [](const std::string& text) {
                           return text.rfind("Received 204800 bytes of bulk dump", 0) == 0;
                         }),
            FStatus.end());
}

} // namespace
} // namespace pelrow::testing
