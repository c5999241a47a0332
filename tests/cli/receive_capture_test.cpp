// What a capture keeps of received events and when it ends.
#include "cli/receive_capture.h"

#include "support/text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace pelrow::cli {
namespace {

std::unique_ptr<TMyMidiEvent> Long(std::vector<uint8_t> bytes) {
  return TMyMidiEvent::FromLong(bytes.data(), uint32_t(bytes.size()), 0);
}

std::unique_ptr<TMyMidiEvent> Short(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0) {
  return TMyMidiEvent::FromShort(PackShortMessage(status, data1, data2), 0);
}

class Capture : public ::testing::Test {
protected:
  TReceiveCapture Make(TCaptureLimits limits, int split = -1, uint32_t start = 0) {
    return TReceiveCapture(
        limits, split, [this](std::string_view line) { Lines.emplace_back(line); }, start);
  }
  std::vector<std::string> Lines;
};

// A message in three buffers is one message, complete with its F7; the lines are
// the In box's, cut at status bytes and, when asked, by length.
TEST_F(Capture, KeepsLinesAsTheInBoxAndCountsCompleteMessages) {
  TReceiveCapture capture = Make({}, 4);
  capture.Take(*Long({0xF0, 0x43, 0x10, 0x01, 0x02}), 0);
  capture.Take(*Short(0xF8), 0); // a clock byte inside the message
  capture.Take(*Long({0x03, 0x04}), 0);
  EXPECT_EQ(capture.Messages(), 1);
  capture.Take(*Long({0x05, 0xF7}), 0);
  capture.Take(*Long({0xF0, 0x7E, 0xF7}), 0);
  capture.Take(*Short(0x90, 0x3C, 0x40), 0);
  capture.Take(*Short(0xC0, 0x05), 0);
  EXPECT_EQ(Lines, (std::vector<std::string>{"F0 43 10 01", "02", "F8", "03 04", "05 F7",
                                             "F0 7E F7", "90 3C 40", "C0 05"}));
  EXPECT_EQ(capture.Messages(), 5);
  EXPECT_EQ(capture.Bytes(), 18u);
}

// Gaps are comment lines at their place; a certain loss is counted (unknown
// counts make the total a lower bound), the device's overrun apart with its
// cause, a possible one is only noted; once the count is reached, nothing more is
// kept or lost.
TEST_F(Capture, MarksGapsInTheLinesAndTellsCertainFromPossibleLoss) {
  TReceiveCapture capture = Make({.Count = 1});
  EXPECT_FALSE(capture.Lost());
  auto cut = Long({0xF0, 0x43, 0x10});
  cut->Damaged = true;
  capture.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 0);
  EXPECT_TRUE(capture.MayBeLost());
  EXPECT_FALSE(capture.Lost());
  capture.Take(*cut, 0);
  capture.Take(*TMyMidiEvent::FromGap(TInputGap::Lost, 40, 0), 0);
  capture.Take(*TMyMidiEvent::FromGap(TInputGap::Overrun, 25, 0), 0);
  capture.Take(*Long({0xF0, 0x7E, 0xF7}), 0);
  EXPECT_EQ(Lines, (std::vector<std::string>{
                       MayBeLostMarkLine, "F0 43 10", CutMarkLine, FormatText(LostMarkLine, 40),
                       "; !! input lost here: the device's input overran: 25 bytes were lost",
                       "F0 7E F7"}));
  EXPECT_EQ(capture.Messages(), 1) << "a cut message is no complete message";
  EXPECT_TRUE(capture.LastMessageCut() == false);
  EXPECT_FALSE(capture.Take(*TMyMidiEvent::FromGap(TInputGap::Lost, 0, 0), 0));
  EXPECT_TRUE(capture.Lost());
  EXPECT_EQ(capture.LostBytes(), 40u);
  EXPECT_EQ(capture.OverrunBytes(), 25u);
  EXPECT_TRUE(capture.LossCounted()) << "what came after the count is no loss";

  // Gaps are no input: they neither start nor prolong the quiet time.
  TReceiveCapture quiet = Make({.QuietMs = 500});
  quiet.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 100);
  EXPECT_FALSE(quiet.Received());
  quiet.Take(*Short(0xC0, 0x05), 200);
  quiet.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 600);
  EXPECT_EQ(quiet.End(700), TCaptureEnd::Quiet);
}

TEST_F(Capture, StopsTakingAtTheCount) {
  TReceiveCapture capture = Make({.Count = 2});
  EXPECT_TRUE(capture.Take(*Long({0xF0, 0x01}), 0));
  EXPECT_TRUE(capture.Take(*Long({0x02, 0xF7}), 0));
  EXPECT_EQ(capture.End(0), TCaptureEnd::Running);
  EXPECT_TRUE(capture.Take(*Short(0xB0, 0x07, 0x64), 0));
  EXPECT_EQ(capture.End(0), TCaptureEnd::Count);
  EXPECT_FALSE(capture.Take(*Short(0xB0, 0x07, 0x65), 0));
  EXPECT_EQ(Lines.size(), 3u);
}

// Quiet counts only once something arrived, and from the latest input; idle counts
// from the start or the latest input; the time limit counts from the start; none
// of them counts while the program was held up or its MIDI system stood still.
TEST_F(Capture, QuietIdleAndTimeLimit) {
  TReceiveCapture capture = Make({.QuietMs = 500, .TimeoutMs = 3000}, -1, 100);
  EXPECT_EQ(capture.End(1000), TCaptureEnd::Running);
  EXPECT_EQ(capture.MsUntilEnd(1000), 2100u);
  capture.Take(*Short(0xFE), 1200);
  EXPECT_EQ(capture.MsUntilEnd(1300), 400u);
  EXPECT_EQ(capture.End(1699), TCaptureEnd::Running);
  capture.Take(*Short(0xFE), 1699);
  EXPECT_EQ(capture.End(2150), TCaptureEnd::Running);
  EXPECT_EQ(capture.End(2199), TCaptureEnd::Quiet);
  EXPECT_EQ(Make({.TimeoutMs = 2000}, -1, 100).End(2100), TCaptureEnd::Timeout);
  EXPECT_EQ(Make({}).MsUntilEnd(5000), UINT32_MAX);

  TReceiveCapture idle = Make({.IdleMs = 1000}, -1, 100);
  EXPECT_EQ(idle.MsUntilEnd(600), 500u);
  EXPECT_EQ(idle.End(1100), TCaptureEnd::Idle) << "nothing at all came";
  idle.Take(*Short(0xC0, 0x05), 1050);
  EXPECT_EQ(idle.End(2049), TCaptureEnd::Running);
  EXPECT_EQ(idle.End(2050), TCaptureEnd::Idle);

  // Held up from 1200 to 2700: only the 200 ms before it were quiet.
  TReceiveCapture held = Make({.QuietMs = 500});
  held.Take(*Short(0xFE), 1000);
  held.HeldUp(1500, 2700);
  EXPECT_EQ(held.MsUntilEnd(2700), 300u);
  // Input taken right after a hold-up, in the same wait: quiet counts from it.
  held.Take(*Short(0xFE), 2900);
  held.HeldUp(1500, 2910);
  EXPECT_EQ(held.End(2910), TCaptureEnd::Running);
  EXPECT_EQ(held.MsUntilEnd(2910), 500u);
  // Held up before anything came: no idle time either.
  TReceiveCapture heldIdle = Make({.IdleMs = 1000}, -1, 0);
  heldIdle.HeldUp(1500, 1600);
  EXPECT_EQ(heldIdle.MsUntilEnd(1600), 900u);
  TReceiveCapture heldTimed = Make({.TimeoutMs = 1000}, -1, 0);
  heldTimed.HeldUp(1500, 1600);
  EXPECT_EQ(heldTimed.End(1600), TCaptureEnd::Running);
  EXPECT_EQ(heldTimed.MsUntilEnd(1600), 900u);
  // The MIDI system ran only 200 of the 1200 ms after the input (its server was
  // starved): only those were quiet. A lag of a period or so is no stall.
  TReceiveCapture starved = Make({.QuietMs = 500});
  starved.SystemRan(0, 1000);
  starved.Take(*Short(0xFE), 1000);
  starved.SystemRan(200, 2200);
  EXPECT_EQ(starved.MsUntilEnd(2200), 300u);
  starved.SystemRan(250, 2400);
  EXPECT_EQ(starved.MsUntilEnd(2400), 100u);
}

// A capture that starts inside a message keeps nothing of its end and counts its
// bytes; real-time bytes among them are messages of their own. A message still
// without its F7 at the end is cut, and marked so.
TEST_F(Capture, TheEndsOfMessagesCutByTheCaptureAreNotMessages) {
  TReceiveCapture capture = Make({});
  for (const uint8_t byte : {0x01, 0x02, 0xF8, 0x03, 0xF7})
    capture.Take(*Short(byte), 0);
  capture.Take(*Long({0xF0, 0x7E, 0x01}), 0);
  EXPECT_EQ(capture.CutAtStartBytes(), 4u);
  EXPECT_EQ(capture.Messages(), 1) << "the clock byte";
  EXPECT_TRUE(capture.LastMessageCut());
  capture.MarkLastMessageCut();
  EXPECT_EQ(Lines, (std::vector<std::string>{"F8", "F0 7E 01", CutMarkLine}));
  capture.Take(*Long({0x02, 0xF7}), 0);
  EXPECT_FALSE(capture.LastMessageCut());
}

// With timestamps, a comment line gives each message's time; the pieces of one
// message are not parted by it.
TEST_F(Capture, TimestampsAreCommentLinesBeforeEachMessage) {
  TReceiveCapture capture = Make({.Timestamps = true});
  auto first = Long({0xF0, 0x01});
  first->Timestamp = 1234;
  capture.Take(*first, 0);
  capture.Take(*Long({0x02, 0xF7}), 0);
  auto note = Short(0x90, 0x3C, 0x40);
  note->Timestamp = 61005;
  capture.Take(*note, 0);
  EXPECT_EQ(Lines, (std::vector<std::string>{"; 1.234 s", "F0 01", "02 F7", "; 61.005 s",
                                             "90 3C 40"}));
}

// The clock wraps after 49 days; spans are taken in unsigned arithmetic.
TEST_F(Capture, SpansAcrossTheClocksWrap) {
  TReceiveCapture capture = Make({.TimeoutMs = 1000}, -1, UINT32_MAX - 100);
  EXPECT_EQ(capture.End(800), TCaptureEnd::Running);
  EXPECT_EQ(capture.End(900), TCaptureEnd::Timeout);
}

} // namespace
} // namespace pelrow::cli
