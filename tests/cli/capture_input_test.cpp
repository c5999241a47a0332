// The capture's input device over the loopback port: filters as the window's, and
// input that the device could not keep is counted to the byte, never dropped in
// silence.
#include "cli/capture_input.h"

#include "midi/service/loopback/loopback_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pelrow::cli {
namespace {

class CaptureInput : public ::testing::Test {
protected:
  void Open(TCliOptions options = {}) {
    FInput = std::make_unique<TCaptureInput>(FCounting, options);
    FInput->Open(0);
  }
  // Waits until the device has stored expected bytes, without taking any.
  void WaitUntilSeen(uint64_t expected) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (FInput->SeenBytes() < expected && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void TakeAll() {
    FInput->Stop([this](const TMyMidiEvent& event) { Taken.push_back(MessageLength(event)); });
  }

  TLoopbackMidiService FService;
  TLossCountingService FCounting{FService};
  std::unique_ptr<TCaptureInput> FInput;
  std::vector<int> Taken;
};

TEST_F(CaptureInput, TakesWhatPassesTheWindowsFilters) {
  TCliOptions options;
  options.ActiveSensing = true;
  Open(options);
  ASSERT_TRUE(FService.InjectInput(LoopbackPortName,
                                   {0xFE, 0xF8, 0x90, 0x3C, 0x40, 0xF0, 0x01, 0x02, 0xF7}));
  WaitUntilSeen(1 + 3 + 4);
  TakeAll();
  EXPECT_EQ(Taken, (std::vector<int>{1, 3, 4})); // the clock byte stays out
  EXPECT_FALSE(FInput->Lost());
  FInput->Close();
}

// A device left unread for a long burst fills its ring; what did not fit is lost
// and counted exactly.
TEST_F(CaptureInput, CountsTheBytesTheRingCouldNotKeep) {
  Open();
  std::vector<uint8_t> notes;
  const int messages = TCaptureInput::RingEntries + 500;
  for (int i = 0; i < messages; ++i)
    notes.insert(notes.end(), {0x90, uint8_t(i & 0x7F), 0x40});
  ASSERT_TRUE(FService.InjectInput(LoopbackPortName, notes));
  WaitUntilSeen(notes.size());
  TakeAll();
  ASSERT_LT(Taken.size(), size_t(messages));
  EXPECT_TRUE(FInput->Lost());
  EXPECT_TRUE(FInput->LossCounted());
  EXPECT_EQ(FInput->LostBytes(), notes.size() - 3 * Taken.size());
  FInput->Close();
}

} // namespace
} // namespace pelrow::cli
