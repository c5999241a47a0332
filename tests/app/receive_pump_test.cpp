// The receive pump behind a real loopback input, on a hand-moved clock and timer:
// messages shown at once, bursts that become bulk dumps and their batch, MIDI thru
// to a second loopback port, the display filter and the device's message filters.
#include "app/line_formatter.h"
#include "app/receive_pump.h"
#include "manual_time.h"
#include "midi/midi_test_support.h"
#include "midi/service/loopback/loopback_service.h"
#include "support/queued_poster.h"
#include "support/text_format.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

using test::TManualClock;
using test::TManualTimer;
using test::TStatusRecorder;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr const char* ThruPort = "Thru Port";

class TRecordingPanel final : public TBulkPanel {
public:
  bool Visible() const override { return FVisible; }
  void Show() override {
    FVisible = true;
    Progress.clear();
    Rate.clear();
    ++Shows;
  }
  void Hide() override { FVisible = false; }
  void SetTexts(const std::string& progress, const std::string& rate, bool) override {
    Progress = progress;
    Rate = rate;
    RateHistory.push_back(rate);
  }
  std::string Progress, Rate;
  std::vector<std::string> RateHistory;
  int Shows = 0;

private:
  bool FVisible = false;
};

// Counts the repaints the In box would make: one per outermost update bracket.
class TRepaintCounter final : public TVKStringsOwner {
public:
  void LinesChanging(TVKStrings&) override {}
  void LinesChangeEnded(TVKStrings&) override { ++Repaints; }
  void LinesChanged(TVKStrings&, int, int) override {}
  void MaxLineLengthChanged(TVKStrings&, int) override {}
  int Repaints = 0;
};

Lines Format(const Bytes& bytes, int limit = -1) {
  Lines lines;
  AddLongMessageLines(bytes.data(), static_cast<int>(bytes.size()), limit,
                      [&](std::string_view line) { lines.emplace_back(line); }, {});
  return lines;
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

int DeviceIndex(TMidiDeviceBase& device, const std::string& name) {
  for (int i = 0; i < device.GetNumDevs(); ++i)
    if (device.GetDeviceName(i) == name)
      return i;
  return -1;
}

class ReceivePump : public ::testing::Test {
protected:
  ReceivePump() {
    Service.AddInput(ThruPort);
    Service.AddOutput(ThruPort);
    Box.SetOwner(&Counter);
    Input.OnMidiData = [this](TMidiInput& input) { Pump.MidiInData(input); };
    Input.SetDeviceID(DeviceIndex(Input, LoopbackPortName));
    Input.Open();
    Input.Start();
    OpenOutput(ThruPort);
    Output.OnSendText = [this](TMidiOutput&, const std::string& text) { Thru.push_back(text); };
  }
  void OpenOutput(const std::string& name) {
    Output.Close();
    Output.SetDeviceID(DeviceIndex(Output, name));
    Output.Open();
  }
  std::unique_ptr<TTimer> MakeTimer() {
    auto timer = std::make_unique<TManualTimer>(Clock);
    Timer = timer.get();
    return timer;
  }
  // Bytes arriving at the input at time `at`, making `events` events.
  void ReceiveAt(uint32_t at, const Bytes& bytes, uint64_t events = 1) {
    Timer->AdvanceTo(at);
    const uint64_t target = Pump.HandledEvents() + events;
    ASSERT_TRUE(Service.InjectInput(LoopbackPortName, bytes));
    ASSERT_TRUE(Poster.RunUntil([&] { return Pump.HandledEvents() >= target; }));
  }
  Lines BoxLines() const {
    Lines lines;
    for (int i = 0; i < Box.Count(); ++i)
      lines.emplace_back(Box[i]);
    return lines;
  }

  TLoopbackMidiService Service;
  TQueuedPoster Poster;
  TMidiInput Input{Service, Poster};
  TMidiOutput Output{Service};
  TManualClock Clock;
  TManualTimer* Timer = nullptr;
  TRepaintCounter Counter;
  TVKStrings Box;
  TVKStringsReceiveLines InLines{Box};
  TRecordingPanel Panel;
  TStatusRecorder Status;
  TReceivePump Pump{Clock, MakeTimer(), InLines, Panel, Output, Status.Sink()};
  Lines Thru;
};

const Bytes NoteOn = {0x90, 0x3C, 0x7F};
const Bytes NoteOff = {0x80, 0x3C, 0x00};

TEST_F(ReceivePump, ASingleLongMessageIsShownAtOnceHoweverLong) {
  const Bytes sysex = test::SysEx(600);
  ReceiveAt(0, sysex);
  EXPECT_EQ(BoxLines(), Format(sysex));
  EXPECT_TRUE(Status.Has("Received 600 bytes succesfully."));
  EXPECT_EQ(Panel.Shows, 0);
  Timer->AdvanceTo(5000);
  EXPECT_EQ(BoxLines(), Format(sysex));
  EXPECT_FALSE(Pump.BulkMode());
}

TEST_F(ReceivePump, ASecondLongMessageWithinTheBurstMakesOneBatch) {
  const Bytes first = test::SysEx(600);
  Bytes second = test::SysEx(600);
  second[1] = 0x55;
  ReceiveAt(0, first);
  ReceiveAt(100, second);
  EXPECT_TRUE(Box.Empty());
  EXPECT_TRUE(Panel.Visible());
  EXPECT_EQ(Panel.Progress, "Received 1200 bytes...");
  EXPECT_EQ(Panel.Rate, "");
  EXPECT_EQ(Status.Texts(TStatusKind::StatusOnly), Lines{""}); // the In status is cleared

  Timer->AdvanceTo(1099);
  EXPECT_TRUE(Box.Empty());
  const int repaints = Counter.Repaints;
  Timer->AdvanceTo(1100);
  EXPECT_EQ(BoxLines(), Join({Format(first), Format(second)}));
  EXPECT_EQ(Counter.Repaints, repaints + 1);
  EXPECT_TRUE(Status.Has("Received 1200 bytes of bulk dump (at 12000 bytes/s = 11.72 KB/s)"));
  EXPECT_FALSE(Panel.Visible());
  EXPECT_FALSE(Timer->Active());
  EXPECT_FALSE(Pump.BulkMode());
}

TEST_F(ReceivePump, TheNinthSmallMessageTurnsTheBurstIntoABulkDump) {
  Lines expected;
  for (uint32_t i = 0; i < 8; ++i) {
    Bytes sysex = test::SysEx(20);
    sysex[1] = static_cast<uint8_t>(i);
    ReceiveAt(i * 10, sysex);
    const Lines lines = Format(sysex);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  EXPECT_EQ(BoxLines(), expected);
  EXPECT_EQ(Status.CountStartingWith("Received 20 bytes succesfully."), 8u);
  EXPECT_EQ(Panel.Shows, 0);

  const Bytes ninth = test::SysEx(20);
  ReceiveAt(80, ninth);
  EXPECT_TRUE(Box.Empty());
  EXPECT_TRUE(Panel.Visible());
  Timer->AdvanceTo(1080);
  const Lines last = Format(ninth);
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(BoxLines(), expected);
  EXPECT_TRUE(Status.Has("Received 180 bytes of bulk dump (at 2250 bytes/s = 2.20 KB/s)"));
}

TEST_F(ReceivePump, ADumpIsWrittenAtTheFirstTickAQuietSecondAfterItsLastMessage) {
  Lines expected;
  for (uint32_t i = 0; i < 20; ++i) {
    Bytes sysex = test::SysEx(100);
    sysex[1] = static_cast<uint8_t>(i);
    ReceiveAt(i * 100, sysex);
    const Lines lines = Format(sysex);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  // 500 bytes were pending when the sixth message came; the timer ticks from then
  // on, once, however many messages follow.
  EXPECT_EQ(Timer->Starts, 1);
  EXPECT_EQ(Panel.Progress, "Received 2000 bytes...");
  // The rate window needs more than 800 ms of the burst.
  ASSERT_GE(Panel.RateHistory.size(), 5u);
  EXPECT_EQ(Panel.RateHistory[0], "");
  EXPECT_EQ(Panel.RateHistory.back().rfind("at ", 0), 0u);
  Timer->AdvanceTo(2500);
  EXPECT_TRUE(Box.Empty()); // ticks at 1500 and 2500 came less than 1 s after a message
  Timer->AdvanceTo(3500);
  EXPECT_EQ(BoxLines(), expected);
}

// The input hands a message longer than its 1024-byte buffers over in pieces.
TEST_F(ReceivePump, TheBuffersOfOneLongSysExAreOneMessage) {
  const Bytes sysex = test::SysEx(3000);
  for (const int threshold : {-1, 32, 100}) {
    SCOPED_TRACE(threshold);
    Box.Clear();
    Status.Reports.clear();
    Pump.Options().SplitLongMessages = threshold > 0;
    Pump.Options().SplitLongMessagesThreshold = threshold;
    ReceiveAt(Clock.Now + 5000, sysex, 3);
    EXPECT_EQ(BoxLines(), Format(sysex, threshold));
    EXPECT_EQ(Status.Texts(TStatusKind::Plain), Lines{"Received 3000 bytes succesfully."});
    EXPECT_EQ(Panel.Shows, 0);
  }
  // Two of them within a burst are a dump of two messages, counted once.
  Box.Clear();
  Status.Reports.clear();
  Pump.Options().SplitLongMessages = false;
  ReceiveAt(Clock.Now + 5000, sysex, 3);
  ReceiveAt(Clock.Now + 100, sysex, 3);
  EXPECT_TRUE(Box.Empty());
  Timer->AdvanceTo(Clock.Now + 1000);
  EXPECT_EQ(BoxLines(), Join({Format(sysex), Format(sysex)}));
  EXPECT_EQ(Status.CountStartingWith("Received 3000 bytes succesfully."), 1u);
  EXPECT_EQ(Status.CountStartingWith("Received 6000 bytes of bulk dump"), 1u);
  EXPECT_EQ(Status.CountStartingWith("Received 1024"), 0u);
}

// A slow sender takes seconds to fill each buffer of a long message.
TEST_F(ReceivePump, ASlowLongSysExIsStillOneMessageAndItsProgressShows) {
  const Bytes sysex = test::SysEx(3000);
  ReceiveAt(0, Bytes(sysex.begin(), sysex.begin() + 1024));
  ReceiveAt(3000, Bytes(sysex.begin() + 1024, sysex.begin() + 2048));
  EXPECT_EQ(Status.Texts(TStatusKind::StatusOnly).back(), "Received 1024 bytes...");
  EXPECT_TRUE(Status.Texts(TStatusKind::Plain).empty());
  ReceiveAt(6000, Bytes(sysex.begin() + 2048, sysex.end()));
  EXPECT_EQ(BoxLines(), Format(sysex));
  EXPECT_EQ(Status.Texts(TStatusKind::Plain), Lines{"Received 3000 bytes succesfully."});
  EXPECT_FALSE(Timer->Active());
  EXPECT_EQ(Panel.Shows, 0);

  // One that stops half-way is reported, with what came, when the next one starts.
  Box.Clear();
  Status.Reports.clear();
  ReceiveAt(10000, Bytes(sysex.begin(), sysex.begin() + 2048), 2);
  ReceiveAt(20000, test::SysEx(10));
  EXPECT_EQ(BoxLines(),
            Join({Format(Bytes(sysex.begin(), sysex.begin() + 2048)), Format(test::SysEx(10))}));
  EXPECT_EQ(Status.Texts(TStatusKind::Plain),
            (Lines{"Received 2048 bytes succesfully.", "Received 10 bytes succesfully."}));
}

TEST_F(ReceivePump, ALineShownBetweenTwoPiecesKeepsBothPiecesWhole) {
  Bytes sysex = test::SysEx(2000);
  ReceiveAt(0, Bytes(sysex.begin(), sysex.begin() + 1024));
  Box.Add("my note");
  ReceiveAt(10, Bytes(sysex.begin() + 1024, sysex.end()));
  EXPECT_EQ(BoxLines(), Join({Format(Bytes(sysex.begin(), sysex.begin() + 1024)),
                              {"my note"},
                              Format(Bytes(sysex.begin() + 1024, sysex.end()))}));
  EXPECT_EQ(Status.Texts(TStatusKind::Plain), Lines{"Received 2000 bytes succesfully."});
  // The next message makes a dump; the scattered one stays where it is.
  ReceiveAt(20, test::SysEx(10));
  Timer->AdvanceTo(1100);
  EXPECT_EQ(BoxLines().back(), Format(test::SysEx(10)).back());
  EXPECT_EQ(Box.Count(), 4);
}

TEST_F(ReceivePump, LongMessagesTwoSecondsApartAreEachShownAtOnce) {
  Lines expected;
  for (uint32_t i = 0; i < 4; ++i) {
    const Bytes sysex = test::SysEx(600);
    ReceiveAt(i * 2000, sysex);
    const Lines lines = Format(sysex);
    expected.insert(expected.end(), lines.begin(), lines.end());
    EXPECT_EQ(BoxLines(), expected);
  }
  EXPECT_EQ(Panel.Shows, 0);
  EXPECT_EQ(Status.CountStartingWith("Received 600 bytes succesfully."), 4u);
}

TEST_F(ReceivePump, ShortMessagesShownDuringABurstStayThroughTheBatch) {
  const Bytes first = test::SysEx(600);
  const Bytes second = test::SysEx(601);
  ReceiveAt(0, first);
  ReceiveAt(10, NoteOn);
  ReceiveAt(20, second);
  EXPECT_EQ(BoxLines(), Lines{"90 3C 7F"});
  ReceiveAt(30, NoteOff);
  EXPECT_EQ(BoxLines(), (Lines{"90 3C 7F", "80 3C 00"}));
  Timer->AdvanceTo(1020);
  EXPECT_EQ(BoxLines(), Join({{"90 3C 7F", "80 3C 00"}, Format(first), Format(second)}));
}

TEST_F(ReceivePump, LinesTheUserChangedDuringABurstAreNeitherRemovedNorDoubled) {
  const Bytes first = test::SysEx(600);
  const Bytes second = test::SysEx(601);
  ReceiveAt(0, first);
  Box.Put(0, "my note");
  ReceiveAt(20, second);
  EXPECT_EQ(BoxLines(), Lines{"my note"});
  Timer->AdvanceTo(1020);
  EXPECT_EQ(BoxLines(), Join({{"my note"}, Format(second)}));
  EXPECT_EQ(Status.CountStartingWith("Received 1201 bytes of bulk dump (at "), 1u);
}

TEST_F(ReceivePump, ThruEchoesEveryMessageAsItArrivesAlsoWhileABulkDumpCollects) {
  TQueuedPoster thruPoster;
  TMidiInput thruInput(Service, thruPoster);
  Bytes echoed;
  thruInput.OnMidiData = [&](TMidiInput& input) {
    while (auto event = input.GetEvent())
      if (event->Length > 0)
        echoed.insert(echoed.end(), event->Data.get(), event->Data.get() + event->Length);
  };
  thruInput.SetDeviceID(DeviceIndex(thruInput, ThruPort));
  thruInput.Open();
  thruInput.Start();

  EXPECT_TRUE(Pump.MidiThru1Click());
  EXPECT_TRUE(Status.Has("Enabled MIDI thru"));
  const Bytes a = test::SysEx(600), b = test::SysEx(700), c = test::SysEx(800);
  ReceiveAt(0, a);
  ReceiveAt(10, NoteOn);
  ReceiveAt(20, b);
  ASSERT_TRUE(Pump.BulkMode());
  ReceiveAt(30, NoteOff);
  ReceiveAt(40, c);
  ASSERT_EQ(Thru.size(), 5u);
  EXPECT_EQ(Thru[1], "90 3C 7F");
  EXPECT_EQ(Thru[3], "80 3C 00");
  // Long data goes out whole, in one piece each.
  EXPECT_EQ(Thru[0].size(), 1200u);
  EXPECT_EQ(Thru[2].size(), 1400u);
  EXPECT_EQ(Thru[4].size(), 1600u);
  const Bytes all = [&] {
    Bytes bytes(a);
    bytes.insert(bytes.end(), b.begin(), b.end());
    bytes.insert(bytes.end(), c.begin(), c.end());
    return bytes;
  }();
  ASSERT_TRUE(thruPoster.RunUntil([&] { return echoed.size() >= all.size(); }));
  EXPECT_EQ(echoed, all);

  EXPECT_FALSE(Pump.MidiThru1Click());
  EXPECT_TRUE(Status.Has("Disabled MIDI thru"));
  ReceiveAt(50, NoteOn);
  EXPECT_EQ(Thru.size(), 5u);
}

TEST_F(ReceivePump, SysExOnlyHidesShortMessagesButThruStillEchoesThem) {
  Pump.Options().SysExOnly = true;
  Pump.MidiThru1Click();
  const Bytes sysex = test::SysEx(20);
  ReceiveAt(0, NoteOn);
  ReceiveAt(10, {0xC0, 0x05});
  ReceiveAt(20, sysex);
  EXPECT_EQ(BoxLines(), Format(sysex));
  EXPECT_EQ(Thru, (Lines{"90 3C 7F", "C0 05 00",
                         "F0010203040506070809"
                         "0A0B0C0D0E0F101112F7"}));
  EXPECT_EQ(Status.Reports.size(), 2u); // "Enabled MIDI thru" and the SysEx
}

TEST_F(ReceivePump, ActiveSensingAndTimingClockAreFilteredInTheDeviceWhenOff) {
  Pump.MidiThru1Click();
  // Off at start: the FE is dropped before anything sees it.
  ReceiveAt(0, {0xFE, 0x90, 0x3C, 0x7F});
  EXPECT_EQ(BoxLines(), Lines{"90 3C 7F"});
  EXPECT_EQ(Thru, Lines{"90 3C 7F"});

  EXPECT_TRUE(Pump.EnableActiveSensing1Click(Input));
  EXPECT_TRUE(Status.Has("Enabled receiving Active Sensing messages"));
  ReceiveAt(10, {0xFE});
  EXPECT_EQ(BoxLines(), (Lines{"90 3C 7F", "FE"}));
  EXPECT_EQ(Thru, (Lines{"90 3C 7F", "FE 00 00"}));

  EXPECT_FALSE(Pump.EnableActiveSensing1Click(Input));
  EXPECT_TRUE(Status.Has("Disabled receiving Active Sensing messages"));
  ReceiveAt(20, {0xFE, 0x80, 0x3C, 0x00});
  EXPECT_EQ(BoxLines(), (Lines{"90 3C 7F", "FE", "80 3C 00"}));

  // The timing clock is let through at start.
  ReceiveAt(30, {0xF8});
  EXPECT_EQ(BoxLines().back(), "F8");
  EXPECT_FALSE(Pump.EnableMidiTimeCode1Click(Input));
  EXPECT_TRUE(Status.Has("Disabled receiving MTC (Midi Time Clock) messages"));
  ReceiveAt(40, {0xF8, 0x90, 0x3C, 0x7F});
  EXPECT_EQ(BoxLines().back(), "90 3C 7F");
  EXPECT_EQ(BoxLines().size(), 5u);
  EXPECT_TRUE(Pump.EnableMidiTimeCode1Click(Input));
  EXPECT_TRUE(Status.Has("Enabled receiving MTC (Midi Time Clock) messages"));
}

TEST_F(ReceivePump, ThruNeverEchoesBackIntoTheLoopbackItCameFrom) {
  OpenOutput(LoopbackPortName);
  Pump.MidiThru1Click();
  ReceiveAt(0, NoteOn);
  ReceiveAt(10, test::SysEx(30));
  ReceiveAt(20, NoteOff);
  EXPECT_TRUE(Thru.empty());
  EXPECT_EQ(Status.CountStartingWith("MIDI thru does not echo into \"Pelrow Loopback\""), 1u);
  // Nothing came back either: only the three messages were ever handled.
  Poster.RunUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(Pump.HandledEvents(), 3u);
  EXPECT_EQ(Box.Count(), 3);

  // Without thru, the loopback on both sides shows what is sent.
  Pump.MidiThru1Click();
  Output.SendShort(0xB0, 0x07, 0x64);
  ASSERT_TRUE(Poster.RunUntil([&] { return Pump.HandledEvents() >= 4; }));
  EXPECT_EQ(BoxLines().back(), "B0 07 64");

  // The mapper opens the first output, which here is the loopback itself.
  Output.Close();
  Output.SetDeviceID(MidiMapper);
  Output.Open();
  Pump.MidiThru1Click();
  Thru.clear();
  ReceiveAt(30, NoteOn);
  EXPECT_TRUE(Thru.empty());
}

TEST_F(ReceivePump, SplittingAppliesToDataFormattedAfterTheChange) {
  const Bytes sysex = test::SysEx(70);
  ReceiveAt(0, sysex);
  EXPECT_TRUE(Pump.Splitlongsysexmessages1Click());
  ReceiveAt(2000, sysex);
  EXPECT_EQ(BoxLines(), Join({Format(sysex), Format(sysex, 32)}));
  EXPECT_EQ(Format(sysex, 32).size(), 3u);
  EXPECT_FALSE(Pump.Splitlongsysexmessages1Click());
}

// Where input went missing the user is told at once, the box shows a mark line at
// the place (also when a burst is written again as one batch), and a dump's
// summary never reads as whole.
class ReceivePumpGaps : public ReceivePump {
protected:
  void GapAt(uint32_t at, TInputGap gap, uint64_t lost) {
    Timer->AdvanceTo(at);
    Pump.HandleEvent(TMyMidiEvent::FromGap(gap, lost, at), LoopbackPortName);
  }
  void CutAt(uint32_t at, const Bytes& bytes) {
    Timer->AdvanceTo(at);
    auto event = TMyMidiEvent::FromLong(bytes.data(), uint32_t(bytes.size()), at);
    event->Damaged = true;
    Pump.HandleEvent(std::move(event), LoopbackPortName);
  }
  static Bytes Numbered(uint8_t number, size_t length) {
    Bytes sysex = test::SysEx(length);
    sysex[1] = number;
    return sysex;
  }
  const std::string LostMark = FormatText(LostMarkLine, 300);
};

TEST_F(ReceivePumpGaps, ALossBetweenSingleMessagesIsToldAndMarked) {
  const Bytes first = Numbered(1, 600);
  ReceiveAt(0, first);
  GapAt(3000, TInputGap::Lost, 300);
  GapAt(6000, TInputGap::Lost, 0);
  GapAt(9000, TInputGap::MayBeLost, 0);
  GapAt(12000, TInputGap::Overrun, 300);
  EXPECT_EQ(BoxLines(),
            Join({Format(first),
                  {LostMark, LostUncountedMarkLine, MayBeLostMarkLine,
                   "; !! input lost here: the device's input overran: 300 bytes were lost"}}));
  EXPECT_EQ(Status.Texts(TStatusKind::Error),
            (Lines{"Input lost: 300 bytes could not be kept",
                   "Input lost: the MIDI system could not keep all input",
                   "Input lost: the device's input overran: 300 bytes were lost"}));
  EXPECT_EQ(Status.Texts(TStatusKind::Warning),
            Lines{"the MIDI system was interrupted while receiving; input may be missing"});
}

TEST_F(ReceivePumpGaps, AGapInsideADumpKeepsItsPlaceAndTheSummarySaysItIsIncomplete) {
  // Three messages are shown at once, a loss cuts the third, the rest of the dump
  // follows; the whole burst is written again in order, marks included.
  const Bytes third = Numbered(3, 40);
  const Bytes cut(third.begin(), third.end() - 10);
  Lines expected = Join({Format(Numbered(1, 40)), Format(Numbered(2, 40))});
  ReceiveAt(0, Numbered(1, 40));
  ReceiveAt(10, Numbered(2, 40));
  CutAt(20, cut);
  GapAt(20, TInputGap::Lost, 300);
  expected = Join({expected, Format(cut), {CutMarkLine, LostMark}});
  for (uint8_t i = 4; i < 12; ++i) {
    ReceiveAt(20 + i * 10, Numbered(i, 40));
    expected = Join({expected, Format(Numbered(i, 40))});
  }
  EXPECT_TRUE(Pump.BulkMode());
  Timer->AdvanceTo(2200);
  EXPECT_EQ(BoxLines(), expected);
  EXPECT_EQ(Status.CountStartingWith("Received 30 bytes of a message that was cut short"), 1u);
  EXPECT_EQ(Status.Texts(TStatusKind::Error).back(),
            "Received 430 bytes of bulk dump (at 3308 bytes/s = 3.23 KB/s), but it is "
            "incomplete: 300 bytes were lost");
}

// The buffers of one long message are one message, also when the last one was cut;
// a gap while a message is under way ends it there, and what follows comes after
// the mark.
TEST_F(ReceivePumpGaps, APieceCutShortOrAGapEndsTheLongMessageUnderWay) {
  const Bytes sysex = Numbered(1, 3000);
  const Bytes cut(sysex.begin(), sysex.begin() + 2000);
  ReceiveAt(0, Bytes(cut.begin(), cut.begin() + 1024));
  CutAt(10, Bytes(cut.begin() + 1024, cut.end()));
  EXPECT_EQ(BoxLines(), Join({Format(cut), {CutMarkLine}}));
  EXPECT_EQ(Status.Texts(TStatusKind::Error),
            Lines{"Received 2000 bytes of a message that was cut short"});

  Box.Clear();
  Status.Reports.clear();
  const Bytes head(sysex.begin(), sysex.begin() + 1024);
  const Bytes tail(sysex.begin() + 1024, sysex.end());
  ReceiveAt(5000, head);
  GapAt(5010, TInputGap::MayBeLost, 0);
  ReceiveAt(5020, tail);
  Timer->AdvanceTo(7000); // the second part within the burst makes it a dump
  EXPECT_TRUE(BoxLines() == Join({Format(head), {MayBeLostMarkLine}, Format(tail)}));
}

TEST_F(ReceivePumpGaps, AnInterruptionDuringADumpIsAWarningNotALoss) {
  for (uint8_t i = 0; i < 10; ++i) {
    ReceiveAt(i * 10, Numbered(i, 100));
    if (i == 5)
      GapAt(55, TInputGap::MayBeLost, 0);
  }
  Timer->AdvanceTo(2100);
  const Lines lines = BoxLines();
  const size_t mark = 6 * Format(Numbered(0, 100)).size();
  ASSERT_GT(lines.size(), mark);
  EXPECT_EQ(lines[mark], MayBeLostMarkLine);
  EXPECT_TRUE(Status.Texts(TStatusKind::Error).empty());
  EXPECT_TRUE(Status.Has("Received 1000 bytes of bulk dump (at 11111 bytes/s = 10.85 KB/s); "
                         "input may be missing: the MIDI system was interrupted"));
}

// A dump too large to show at once is formatted in the background: its lines are
// those the batch at once gives, marks included, and a message that comes while it
// is shown is echoed at once and shown after it. While the box is held (it is being
// saved) the batch adds nothing; it goes on once released.
TEST_F(ReceivePumpGaps, ALargeDumpShownInTheBackgroundMatchesTheBatchAtOnce) {
  TQueuedPoster batchPoster;
  Pump.SetBatchPoster(&batchPoster);
  Pump.Options().SplitLongMessages = true;
  Lines expected;
  uint32_t at = 0;
  int total = 0;
  for (int i = 0; total < TReceivePump::BackgroundBatchBytes; ++i, at += 2) {
    const Bytes sysex = Numbered(uint8_t(i & 0x7F), 20 + size_t(i * 131) % 3000);
    if (i == 100) {
      CutAt(at, sysex);
      GapAt(at, TInputGap::Lost, 300);
      for (const Lines& part : {Format(sysex, 32), Lines{CutMarkLine, LostMark}})
        expected.insert(expected.end(), part.begin(), part.end());
    } else {
      Timer->AdvanceTo(at);
      Pump.HandleEvent(TMyMidiEvent::FromLong(sysex.data(), uint32_t(sysex.size()), at),
                       LoopbackPortName);
      const Lines lines = Format(sysex, 32);
      expected.insert(expected.end(), lines.begin(), lines.end());
    }
    total += int(sysex.size());
  }
  Timer->AdvanceTo(at + 2000);
  ASSERT_TRUE(Pump.ShowingBatch());
  Pump.Options().MidiThru = true;
  Pump.HandleEvent(TMyMidiEvent::FromShort(0x7F3C90, at + 2000), LoopbackPortName);
  EXPECT_EQ(Thru.size(), 1u);

  Pump.Hold();
  const int heldLines = Box.Count();
  batchPoster.RunUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(Box.Count(), heldLines);
  Timer->AdvanceTo(at + 5000);
  EXPECT_TRUE(Pump.ShowingBatch());
  Pump.Release();
  ASSERT_TRUE(batchPoster.RunUntil([&] { return !Pump.ShowingBatch(); }));
  EXPECT_EQ(BoxLines(), Join({expected, {"90 3C 7F"}}));
  EXPECT_FALSE(Panel.Visible());
  EXPECT_EQ(Status.CountStartingWith(FormatText("Received %d bytes of bulk dump", total)), 1u);
}

} // namespace
} // namespace pelrow
