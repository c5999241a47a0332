// The send engine on a hand-moved clock, sending to the real loopback output: which
// path each line takes, how long lines are cut, the pacing schedule, cancelling,
// progress texts, and what is reported when the output cannot take the data.
#include "app/send_engine.h"
#include "app/send_rate.h"
#include "manual_time.h"
#include "midi/midi_input.h"
#include "midi/midi_test_support.h"
#include "midi/service/loopback/loopback_service.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

using test::TManualClock;
using test::TManualEventLoop;
using test::TStatusRecorder;

std::string HexLine(const std::vector<uint8_t>& bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string line;
  for (uint8_t b : bytes) {
    if (!line.empty())
      line += ' ';
    line += Digits[b >> 4];
    line += Digits[b & 15];
  }
  return line;
}

struct TSentChunk {
  uint32_t Time;
  std::string Text; // "90 3C 7F" for a short message, unspaced hex for long data
};

class SendEngine : public ::testing::Test {
protected:
  SendEngine() {
    FOutput.SetDeviceID(0);
    FOutput.Open();
    FOutput.OnSendText = [this](TMidiOutput&, const std::string& text) {
      Sent.push_back({Clock.Now, text});
    };
  }
  void Send(std::vector<std::string> lines) {
    Box.Clear();
    Box.AddStrings(lines);
    Engine.BSendClick(Source);
  }
  std::vector<size_t> ChunkSizes() const {
    std::vector<size_t> sizes;
    for (const auto& chunk : Sent)
      sizes.push_back(chunk.Text.size() / 2);
    return sizes;
  }
  std::vector<uint32_t> ChunkTimes() const {
    std::vector<uint32_t> times;
    for (const auto& chunk : Sent)
      times.push_back(chunk.Time);
    return times;
  }

  TLoopbackMidiService Service;
  TMidiOutput FOutput{Service};
  TManualClock Clock;
  TManualEventLoop Loop{Clock};
  TStatusRecorder Status;
  int Speed = SendSpeedUnpaced;
  TVKStrings Box;
  TListSendSource Source{Box};
  TSendEngine Engine{Clock, Loop, FOutput, Status.Sink(), [this] { return Speed; }};
  std::vector<TSentChunk> Sent;
};

TEST_F(SendEngine, CompleteShortMessagesGoShortEverythingElseLong) {
  Send({"90 3C 7F", "C0 05", "  F8 ; clock", "F0", "F7", "F0 7E 7F 06 01 F7", "10 20", "90 3C 80",
        "// nothing here", ""});
  std::vector<std::string> texts;
  for (const auto& chunk : Sent)
    texts.push_back(chunk.Text);
  // A lone F0 or F7 is part of a SysEx spread over lines and goes with the long data.
  EXPECT_EQ(texts, (std::vector<std::string>{"90 3C 7F", "C0 05 00", "F8 00 00", "F0", "F7",
                                             "F07E7F0601F7", "1020", "903C80"}));
  EXPECT_EQ(Status.Texts(TStatusKind::Plain).back(), "Sent 19 bytes");
  EXPECT_FALSE(Engine.Sending());
}

TEST_F(SendEngine, LongLinesGoInChunksOf128AndArriveWhole) {
  TQueuedPoster poster;
  TMidiInput input(Service, poster);
  std::vector<uint8_t> received;
  input.OnMidiData = [&](TMidiInput& sender) {
    while (auto event = sender.GetEvent())
      received.insert(received.end(), event->Data.get(), event->Data.get() + event->Length);
  };
  input.SetDeviceID(0);
  input.Open();
  input.Start();
  const auto sysex = test::SysEx(300);
  Speed = 0;
  Send({HexLine(sysex)});
  EXPECT_EQ(ChunkSizes(), (std::vector<size_t>{128, 128, 44}));
  ASSERT_TRUE(poster.RunUntil([&] { return received.size() >= sysex.size(); }));
  EXPECT_EQ(received, sysex);
  EXPECT_TRUE(Status.Has("Sent 300 bytes"));
}

// One line of 1000 bytes: seven chunks of 128 and one of 104.
TEST_F(SendEngine, AtWireSpeedSleepsAfterEverySecondChunkOnlyWhenWellAhead) {
  Speed = 0;
  Send({HexLine(test::SysEx(1000))});
  EXPECT_EQ(ChunkSizes(), (std::vector<size_t>{128, 128, 128, 128, 128, 128, 128, 104}));
  // 0.32 ms per byte: the schedule is 41 ms ahead after one chunk (no sleep), 82 ms
  // after two (sleep in 10 ms steps until met), and so on; the last wait counts.
  EXPECT_EQ(ChunkTimes(), (std::vector<uint32_t>{0, 0, 90, 90, 170, 170, 250, 250}));
  EXPECT_GE(Clock.Now, 320u);
  EXPECT_LE(Clock.Now, 330u);
  EXPECT_TRUE(Status.Has("Sent 1000 bytes"));
}

TEST_F(SendEngine, AtDefaultSpeedSleepsAfterEveryChunk) {
  Speed = -500;
  Send({HexLine(test::SysEx(1000))});
  const auto times = ChunkTimes();
  ASSERT_EQ(times.size(), 8u);
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 1], 120u) << "chunk " << i;
  EXPECT_GE(Clock.Now, 1010u);
  EXPECT_LE(Clock.Now, 1020u);
}

TEST_F(SendEngine, FullSpeedNeverSleepsAndLetsEventsRunOncePerChunk) {
  Speed = 1000;
  Send({HexLine(test::SysEx(1000)), "90 3C 7F"});
  EXPECT_EQ(Loop.Waits, 0);
  EXPECT_EQ(Loop.Passes, 9);
  EXPECT_EQ(Clock.Now, 0u);
}

// A device that stores each message needs a pause after it, not after a note, and
// none after the last message; a line of two messages is cut between them.
TEST_F(SendEngine, AGapFollowsEveryCompleteSysExButTheLast) {
  Engine.SetMessageGap(200);
  Send({"F0 01 F7 F0 02 03 F7", "90 3C 7F", "F0 04 F7"});
  std::vector<std::string> texts;
  for (const auto& chunk : Sent)
    texts.push_back(chunk.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"F001F7", "F00203F7", "90 3C 7F", "F004F7"}));
  EXPECT_EQ(ChunkTimes(), (std::vector<uint32_t>{0, 210, 420, 420}));
  EXPECT_EQ(Clock.Now, 420u);
}

// After a pause the pace starts afresh: the pause is not made up by a rush.
TEST_F(SendEngine, PacingRestartsAfterAGap) {
  Speed = 0;
  Engine.SetMessageGap(100);
  auto message = test::SysEx(256);
  Send({HexLine(message), HexLine(message)});
  EXPECT_EQ(ChunkSizes(), (std::vector<size_t>{128, 128, 128, 128}));
  // 256 bytes are 81 ms at the wire rate; the pause comes on top of them.
  EXPECT_EQ(ChunkTimes(), (std::vector<uint32_t>{0, 0, 190, 190}));
  EXPECT_EQ(Clock.Now, 280u);
}

TEST_F(SendEngine, ASpeedChangeDuringASendActsFromTheNextChunk) {
  Speed = -1000;
  Loop.At(200, [&] { Speed = 1000; });
  Send({HexLine(test::SysEx(1000))});
  const auto times = ChunkTimes();
  ASSERT_EQ(times.size(), 8u);
  // The wait in progress (about 409 ms at -1000) still ends as planned; from the
  // next chunk on nothing waits any more.
  EXPECT_GE(times[1], 400u);
  EXPECT_EQ(times[1], times.back());
  EXPECT_TRUE(Status.Has("Sent 1000 bytes"));
}

TEST_F(SendEngine, EveryCancelRequestStopsWithinOneWaitStep) {
  const std::vector<std::pair<const char*, std::function<void()>>> requests = {
      {"Esc", [&] { Engine.KeyUp(TSendKey::Esc, Source); }},
      {"second click", [&] { Engine.BSendClick(Source); }},
      {"cancel", [&] { Engine.Cancel(); }},
  };
  for (const auto& [name, request] : requests) {
    SCOPED_TRACE(name);
    Sent.clear();
    Status.Reports.clear();
    Clock.Now = 0;
    Speed = -500;
    // F4 during a send is no cancel request.
    Loop.At(60, [&] { Engine.KeyUp(TSendKey::F4, Source); });
    Loop.At(135, request);
    Send({HexLine(test::SysEx(1000))});
    EXPECT_EQ(Sent.size(), 2u);
    EXPECT_LE(Clock.Now, 145u);
    EXPECT_TRUE(Status.Has("Sending cancelled (sent 256 bytes)"));
    EXPECT_FALSE(Status.Has("Sent 256 bytes"));
    EXPECT_FALSE(Engine.Sending());
  }
  // Esc while idle does nothing: the next send runs to its end.
  Engine.KeyUp(TSendKey::Esc, Source);
  Speed = 1000;
  Send({"90 3C 7F"});
  EXPECT_TRUE(Status.Has("Sent 3 bytes"));
}

TEST_F(SendEngine, ClosingDuringASendCancelsItAndClosesWhenItHasEnded) {
  Speed = -500;
  int started = 0;
  std::vector<bool> closeAtEnd;
  Engine.OnSendStarted = [&](TSendEngine& engine) {
    ++started;
    EXPECT_TRUE(engine.Sending());
  };
  Engine.OnSendEnded = [&](TSendEngine& engine) {
    EXPECT_FALSE(engine.Sending());
    closeAtEnd.push_back(engine.CloseRequested());
  };
  bool mayClose = true;
  Loop.At(135, [&] { mayClose = Engine.QueryClose(); });
  Send({HexLine(test::SysEx(1000))});
  EXPECT_FALSE(mayClose);
  EXPECT_EQ(started, 1);
  EXPECT_EQ(closeAtEnd, std::vector<bool>{true});
  EXPECT_EQ(Sent.size(), 2u);
  EXPECT_TRUE(Engine.QueryClose());
}

TEST_F(SendEngine, ProgressIsShownFromThreeLinesOnWithTheRateOnceMeasured) {
  Speed = 0;
  Send({HexLine(test::SysEx(600)), HexLine(test::SysEx(600))});
  EXPECT_EQ(Status.CountStartingWith("Sending line"), 0u);

  Status.Reports.clear();
  Speed = -500;
  Send({HexLine(test::SysEx(600)), HexLine(test::SysEx(600)), HexLine(test::SysEx(600))});
  const auto progress = Status.Texts(TStatusKind::StatusOnly);
  ASSERT_FALSE(progress.empty());
  // Before the first rate measurement (800 ms) the text has no rate; the count is
  // the total before the chunk that follows.
  EXPECT_EQ(progress.front(), "Sending line 1/3 (128 bytes sent)");
  const bool withRate = std::any_of(progress.begin(), progress.end(), [](const std::string& t) {
    return t.rfind("Sending line", 0) == 0 && t.find(" bytes sent at ") != std::string::npos &&
           t.find(" bytes/s = ") != std::string::npos;
  });
  EXPECT_TRUE(withRate);
  EXPECT_EQ(Status.CountStartingWith("Sending line"), progress.size());
}

TEST_F(SendEngine, ASelectionCountsTheBoxsLineNumbers) {
  Speed = -500;
  const std::string data = HexLine(test::SysEx(200));
  Box.AddStrings(std::vector<std::string>{"90 3C 7F", "80 3C 00", "C0 01", "B0 07 64",
                                          "90 3C 7F F0 zz", data + " zz", data + " zz"});
  // From the middle of the fifth line to the end of the seventh.
  Source.SetSelection("F0 zz\r\n" + data + " zz\r\n" + data + " zz", 4);
  Engine.BSendClick(Source);
  EXPECT_EQ(Status.Texts(TStatusKind::Plain).front(), "Sending selected MIDI out data...");
  std::vector<std::string> errorLines;
  for (const auto& text : Status.Texts(TStatusKind::Error))
    errorLines.push_back(text.substr(0, text.find(':')));
  EXPECT_EQ(errorLines, (std::vector<std::string>{"line 5", "line 6", "line 7"}));
  const auto progress = Status.Texts(TStatusKind::StatusOnly);
  ASSERT_FALSE(progress.empty());
  for (const auto& text : progress) {
    const bool inSelection =
        text.rfind("Sending line 6/7 ", 0) == 0 || text.rfind("Sending line 7/7 ", 0) == 0;
    EXPECT_TRUE(inSelection) << text;
  }
  EXPECT_TRUE(Status.Has("Sent 401 bytes"));
}

TEST_F(SendEngine, AnEmptyBoxIsAnErrorButABoxWithoutBytesSendsNothing) {
  Engine.BSendClick(Source);
  ASSERT_EQ(Status.Reports.size(), 1u);
  EXPECT_EQ(Status.Reports[0].Text, "There is no data to send in the Midi Out Box.");
  EXPECT_EQ(Status.Reports[0].Kind, TStatusKind::ErrorBox);

  Box.SetText(DefaultOutBoxText);
  Engine.BSendClick(Source);
  EXPECT_TRUE(Status.Has("Sent 0 bytes"));
  EXPECT_TRUE(Sent.empty());
}

TEST_F(SendEngine, WithoutAnOpenOutputNothingCountsAsSent) {
  FOutput.Close();
  Send({"90 3C 7F", "80 3C 00"});
  EXPECT_TRUE(Sent.empty());
  EXPECT_TRUE(Status.Has("No MIDI output device is open; nothing was sent."));
  EXPECT_EQ(Status.CountStartingWith("Sent "), 0u);
  // A box without bytes needs no device.
  Send({"; just a comment"});
  EXPECT_TRUE(Status.Has("Sent 0 bytes"));
}

// The device refuses more data and fails what it still held: only the bytes that
// went out before count as sent.
TEST_F(SendEngine, ARefusedSendCountsOnlyWhatWentOut) {
  Speed = 0;
  // Chunks go at 0, 0, 90, 90 and 170 ms; the two at 90 ms are held, then failed.
  Loop.At(50, [&] {
    ASSERT_TRUE(FOutput.WaitUntilDelivered(10000));
    Service.StallOutput(LoopbackPortName, true);
  });
  Loop.At(130, [&] {
    Service.RefuseSends(LoopbackPortName, MidiErrNotReady);
    Service.StallOutput(LoopbackPortName, false);
  });
  Send({HexLine(test::SysEx(1000))});
  EXPECT_EQ(Status.Texts(TStatusKind::Error),
            std::vector<std::string>{"The MIDI output device refused the data (sent 256 bytes)"});
  EXPECT_EQ(Status.CountStartingWith("Sent "), 0u);
  EXPECT_EQ(Status.CountStartingWith("Sending cancelled"), 0u);
  EXPECT_FALSE(Engine.Sending());
}

// The device took every chunk but delivered only the first two: the send says
// so instead of claiming that all was sent.
TEST_F(SendEngine, DataTheDeviceCouldNotDeliverIsReportedAtTheEnd) {
  Speed = 0;
  // Chunks go at 0, 0, 90, 90, 170, 170, 250 and 250 ms.
  Loop.At(50, [&] {
    ASSERT_TRUE(FOutput.WaitUntilDelivered(10000));
    Service.StallOutput(LoopbackPortName, true);
  });
  Loop.At(260, [&] {
    Service.RefuseSends(LoopbackPortName, MidiErrNotReady);
    Service.StallOutput(LoopbackPortName, false);
  });
  Send({HexLine(test::SysEx(1000))});
  EXPECT_EQ(Status.Texts(TStatusKind::Error),
            std::vector<std::string>{"The MIDI output device could not deliver 744 of 1000 bytes"});
  EXPECT_EQ(Status.CountStartingWith("Sent "), 0u);
  EXPECT_FALSE(Engine.Sending());

  // The next send that arrives whole is not blamed for the earlier one.
  Service.RefuseSends(LoopbackPortName, MidiOk);
  Send({HexLine(test::SysEx(200))});
  EXPECT_TRUE(Status.Has("Sent 200 bytes"));
  EXPECT_EQ(Status.Texts(TStatusKind::Error).size(), 1u);
}

// A device that holds the last chunks keeps the send running, with events served,
// until it has taken them; a cancel ends the wait.
TEST_F(SendEngine, ASendEndsOnceTheDeviceHasTakenItsDataOrOnCancel) {
  Speed = SendSpeedUnpaced;
  Service.StallOutput(LoopbackPortName, true);
  // One pass per chunk, then passes while the engine waits.
  Loop.OnPass = [&] {
    if (Loop.Passes == 10)
      Service.StallOutput(LoopbackPortName, false);
  };
  Send({HexLine(test::SysEx(1000))});
  EXPECT_GE(Loop.Passes, 10);
  EXPECT_EQ(FOutput.PendingCount(), 0);
  EXPECT_TRUE(Status.Has("Sent 1000 bytes"));

  Status.Reports.clear();
  Loop.Passes = 0;
  Service.StallOutput(LoopbackPortName, true);
  Loop.OnPass = [&] {
    if (Loop.Passes == 10)
      Engine.Cancel();
  };
  Send({HexLine(test::SysEx(1000))});
  EXPECT_EQ(FOutput.PendingCount(), 8);
  EXPECT_TRUE(Status.Has("Sending cancelled (sent 1000 bytes)"));
  EXPECT_EQ(Status.CountStartingWith("Sent "), 0u);
  Service.StallOutput(LoopbackPortName, false);
  EXPECT_TRUE(FOutput.WaitUntilDelivered(10000));
}

TEST_F(SendEngine, LinesDeletedDuringASendEndItWithAnError) {
  Speed = -500;
  int ended = 0;
  Engine.OnSendEnded = [&](TSendEngine&) { ++ended; };
  Loop.At(135, [&] { Box.DeleteLines(1, 2); });
  Send({HexLine(test::SysEx(200)), HexLine(test::SysEx(200)), HexLine(test::SysEx(200))});
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(Engine.Sending());
  EXPECT_EQ(Status.Texts(TStatusKind::Error).size(), 1u);
  EXPECT_EQ(Status.CountStartingWith("Sent "), 0u);
}

TEST(SendRate, SpeedFactorAndRateTexts) {
  EXPECT_DOUBLE_EQ(SendSpeedFactor(0), 1.0);
  EXPECT_NEAR(SendSpeedFactor(-1000), 9.974, 0.001);
  EXPECT_NEAR(SendSpeedFactor(1000), 0.1003, 0.0001);
  EXPECT_NEAR(1000.0 / (WireMsPerByte * SendSpeedFactor(875)), 23381, 1);
  EXPECT_EQ(KBytesPerSecond(0, 1000), 0.0);
  EXPECT_EQ(FormatRate(KBytesPerSecond(1000, 3125)), "3125 bytes/s = 3.05 KB/s");
  // Half a byte per second rounds to the even neighbour.
  EXPECT_EQ(FormatRate(2.5 / 1024), "2 bytes/s = 0.00 KB/s");
  EXPECT_EQ(FormatRate(3.5 / 1024), "4 bytes/s = 0.00 KB/s");

  uint32_t rateTime = 0;
  int64_t rateBytes = 0;
  double rate = 0;
  UpdateRate(800, rateTime, rateBytes, rate, 5000);
  EXPECT_EQ(rate, 0.0); // not yet a measurement window
  UpdateRate(1000, rateTime, rateBytes, rate, 10240);
  EXPECT_DOUBLE_EQ(rate, 10.0);
  EXPECT_EQ(rateTime, 1000u);
  EXPECT_EQ(rateBytes, 10240);
}

} // namespace
} // namespace pelrow
