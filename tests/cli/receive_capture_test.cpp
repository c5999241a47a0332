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
// counts make the total a lower bound), a possible one is only noted, and a loss
// after the last counted message still counts.
TEST_F(Capture, MarksGapsInTheLinesAndTellsCertainFromPossibleLoss) {
  TReceiveCapture capture = Make({0, 1, 0});
  EXPECT_FALSE(capture.Lost());
  auto cut = Long({0xF0, 0x43, 0x10});
  cut->Damaged = true;
  capture.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 0);
  EXPECT_TRUE(capture.MayBeLost());
  EXPECT_FALSE(capture.Lost());
  capture.Take(*cut, 0);
  capture.Take(*TMyMidiEvent::FromGap(TInputGap::Lost, 40, 0), 0);
  capture.Take(*Long({0xF0, 0x7E, 0xF7}), 0);
  EXPECT_EQ(Lines, (std::vector<std::string>{MayBeLostMarkLine, "F0 43 10", CutMarkLine,
                                             FormatText(LostMarkLine, 40), "F0 7E F7"}));
  EXPECT_EQ(capture.Messages(), 1) << "a cut message is no complete message";
  EXPECT_FALSE(capture.Take(*TMyMidiEvent::FromGap(TInputGap::Lost, 0, 0), 0));
  EXPECT_TRUE(capture.Lost());
  EXPECT_EQ(capture.LostBytes(), 40u);
  EXPECT_FALSE(capture.LossCounted());

  // Gaps are no input: they neither start nor prolong the quiet time.
  TReceiveCapture quiet = Make({500, 0, 0});
  quiet.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 100);
  EXPECT_FALSE(quiet.Received());
  quiet.Take(*Short(0xC0, 0x05), 200);
  quiet.Take(*TMyMidiEvent::FromGap(TInputGap::MayBeLost, 0, 0), 600);
  EXPECT_EQ(quiet.End(700), TCaptureEnd::Quiet);
}

TEST_F(Capture, StopsTakingAtTheCount) {
  TReceiveCapture capture = Make({0, 2, 0});
  EXPECT_TRUE(capture.Take(*Long({0xF0, 0x01}), 0));
  EXPECT_TRUE(capture.Take(*Long({0x02, 0xF7}), 0));
  EXPECT_EQ(capture.End(0), TCaptureEnd::Running);
  EXPECT_TRUE(capture.Take(*Short(0xB0, 0x07, 0x64), 0));
  EXPECT_EQ(capture.End(0), TCaptureEnd::Count);
  EXPECT_FALSE(capture.Take(*Short(0xB0, 0x07, 0x65), 0));
  EXPECT_EQ(Lines.size(), 3u);
}

// Quiet counts only once something arrived, from the latest input, and not while
// the program was held up; the time limit counts from the start.
TEST_F(Capture, QuietTimeAndTimeLimit) {
  TReceiveCapture capture = Make({500, 0, 3000}, -1, 100);
  EXPECT_EQ(capture.End(1000), TCaptureEnd::Running);
  EXPECT_EQ(capture.MsUntilEnd(1000), 2100u);
  capture.Take(*Short(0xFE), 1200);
  EXPECT_EQ(capture.MsUntilEnd(1300), 400u);
  EXPECT_EQ(capture.End(1699), TCaptureEnd::Running);
  capture.Take(*Short(0xFE), 1699);
  EXPECT_EQ(capture.End(2150), TCaptureEnd::Running);
  EXPECT_EQ(capture.End(2199), TCaptureEnd::Quiet);

  // Held up from 1200 to 2700: only the 200 ms before it were quiet.
  TReceiveCapture held = Make({500, 0, 0});
  held.Take(*Short(0xFE), 1000);
  held.HeldUp(1500, 2700);
  EXPECT_EQ(held.MsUntilEnd(2700), 300u);
  // Input taken right after a hold-up, in the same wait: quiet counts from it.
  held.Take(*Short(0xFE), 2900);
  held.HeldUp(1500, 2910);
  EXPECT_EQ(held.End(2910), TCaptureEnd::Running);
  EXPECT_EQ(held.MsUntilEnd(2910), 500u);
  EXPECT_EQ(Make({0, 0, 2000}, -1, 100).End(2100), TCaptureEnd::Timeout);
  EXPECT_EQ(Make({}).MsUntilEnd(5000), UINT32_MAX);
}

// The clock wraps after 49 days; spans are taken in unsigned arithmetic.
TEST_F(Capture, SpansAcrossTheClocksWrap) {
  TReceiveCapture capture = Make({0, 0, 1000}, -1, UINT32_MAX - 100);
  EXPECT_EQ(capture.End(800), TCaptureEnd::Running);
  EXPECT_EQ(capture.End(900), TCaptureEnd::Timeout);
}

} // namespace
} // namespace pelrow::cli
