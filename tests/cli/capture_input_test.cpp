// The capture's input device over the loopback port: filters as the window's, and
// input that the device could not keep comes out as a gap at its place, counted
// to the byte, never dropped in silence.
#include "cli/capture_input.h"

#include "midi/service/loopback/loopback_service.h"

#include <gtest/gtest.h>

namespace pelrow::cli {
namespace {

class CaptureInput : public ::testing::Test {
protected:
  void Open(TCliOptions options = {}) {
    FInput = std::make_unique<TCaptureInput>(FService, options);
    FInput->Open(0);
  }
  // Stop hands on everything injected before it: no waiting needed.
  void TakeAll() {
    FInput->Stop([this](const TMyMidiEvent& event) {
      if (event.Gap == TInputGap::Lost)
        Taken.push_back(-static_cast<int>(event.LostBytes));
      else
        Taken.push_back(MessageLength(event));
    });
  }

  TLoopbackMidiService FService;
  std::unique_ptr<TCaptureInput> FInput;
  std::vector<int> Taken; // bytes of each event; a gap as minus the bytes it lost
};

TEST_F(CaptureInput, TakesWhatPassesTheWindowsFilters) {
  TCliOptions options;
  options.ActiveSensing = true;
  Open(options);
  ASSERT_TRUE(FService.InjectInput(LoopbackPortName,
                                   {0xFE, 0xF8, 0x90, 0x3C, 0x40, 0xF0, 0x01, 0x02, 0xF7}));
  TakeAll();
  EXPECT_EQ(Taken, (std::vector<int>{1, 3, 4})); // the clock byte stays out
  FInput->Close();
}

// A device left unread for a long burst fills its ring; what did not fit is one
// gap behind the last message kept, with its exact size.
TEST_F(CaptureInput, CountsTheBytesTheRingCouldNotKeepWhereTheyWereLost) {
  Open();
  std::vector<uint8_t> notes;
  const int messages = TCaptureInput::RingEntries + 500;
  for (int i = 0; i < messages; ++i)
    notes.insert(notes.end(), {0x90, uint8_t(i & 0x7F), 0x40});
  ASSERT_TRUE(FService.InjectInput(LoopbackPortName, notes));
  TakeAll();
  std::vector<int> expected(TCaptureInput::RingEntries, 3);
  expected.push_back(-3 * 500);
  EXPECT_EQ(Taken, expected);
  FInput->Close();
}

} // namespace
} // namespace pelrow::cli
