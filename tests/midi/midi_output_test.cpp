// The output device over the loopback backend: what the platform is handed for
// short and long sends, chunked sends with their flow control, refused sends and
// closing with messages in flight.
#include "device_fixture.h"

namespace pelrow {
namespace {

using Output = test::DeviceFixture;

TEST_F(Output, ShortMessagesArePackedAndReportedAsThreeHexBytes) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  std::vector<std::string> texts;
  FOutput.OnSendText = [&](TMidiOutput&, const std::string& text) { texts.push_back(text); };
  EXPECT_TRUE(FOutput.SendShort(0x90, 0x3C, 0x40));
  EXPECT_TRUE(FOutput.SendShort(0xC0, 0x05, 0x00));
  EXPECT_TRUE(FOutput.SendShortPacked(0xF8));
  ASSERT_TRUE(RunUntilEvents(3));
  EXPECT_EQ(FEvents[2]->Status, 0xF8);
  EXPECT_EQ(PackShortMessage(FEvents[0]->Status, FEvents[0]->Data1, FEvents[0]->Data2), 0x403C90u);
  EXPECT_EQ(PackShortMessage(FEvents[1]->Status, FEvents[1]->Data1, FEvents[1]->Data2), 0x05C0u);
  EXPECT_EQ(texts, (std::vector<std::string>{"90 3C 40", "C0 05 00"}));
}

TEST_F(Output, SendsOnAClosedDeviceFailWithoutSideEffects) {
  std::vector<std::string> texts;
  FOutput.OnSendText = [&](TMidiOutput&, const std::string& text) { texts.push_back(text); };
  const uint8_t sysex[] = {0xF0, 0x01, 0xF7};
  EXPECT_FALSE(FOutput.SendShort(0x90, 0x3C, 0x40));
  EXPECT_FALSE(FOutput.SendShortPacked(0x403C90));
  EXPECT_FALSE(FOutput.SendLong(sysex, 3));
  EXPECT_EQ(texts, std::vector<std::string>{"90 3C 40"});
  OpenOutput();
  EXPECT_FALSE(FOutput.SendLong(sysex, 0));
  EXPECT_EQ(FOutput.PendingCount(), 0);
}

TEST_F(Output, LongSendsCopyTheCallersBytesAndReportThemAsHexText) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  std::string text;
  FOutput.OnSendText = [&](TMidiOutput&, const std::string& sent) { text = sent; };
  uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
  EXPECT_TRUE(FOutput.SendLong(sysex, 4));
  sysex[1] = 0x00; // the caller may reuse its buffer at once
  ASSERT_TRUE(RunUntilEvents(1));
  EXPECT_EQ(LongBytes(), (std::vector<uint8_t>{0xF0, 0x43, 0x10, 0xF7}));
  EXPECT_EQ(text, "F04310F7");
  ASSERT_TRUE(test::WaitFor([&] { return FOutput.PendingCount() == 0; }));
}

TEST_F(Output, ChunkedSendsGoOutInPiecesOf1000WithProgressBetweenThem) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  std::vector<size_t> pieces;
  FOutput.OnSendText = [&](TMidiOutput&, const std::string& hex) {
    pieces.push_back(hex.size() / 2);
  };
  int progressCalls = 0;
  const auto sysex = test::SysEx(2500);
  const int32_t sent =
      FOutput.SendLongChunked(sysex.data(), 2500, [&](TMidiOutput&, bool&) { ++progressCalls; });
  EXPECT_EQ(sent, 2500);
  EXPECT_EQ(pieces, (std::vector<size_t>{1000, 1000, 500}));
  EXPECT_EQ(progressCalls, 2);
  ASSERT_TRUE(FPoster.RunUntil([&] { return FLongTotal >= 2500; }));
  EXPECT_EQ(LongBytes(), sysex);
}

TEST_F(Output, ChunkedSendsWaitWhileMoreThanTenBuffersArePending) {
  OpenOutput();
  FService.StallOutput(LoopbackPortName, true);
  const uint8_t note[] = {0xF0, 0x01, 0xF7};
  for (int i = 0; i < 11; ++i)
    ASSERT_TRUE(FOutput.SendLong(note, 3));
  EXPECT_EQ(FOutput.PendingCount(), 11);

  // Stopped by its progress before anything went out.
  const auto sysex = test::SysEx(2500);
  EXPECT_EQ(FOutput.SendLongChunked(sysex.data(), 2500,
                                    [](TMidiOutput&, bool& proceed) { proceed = false; }),
            0);
  EXPECT_EQ(FOutput.PendingCount(), 11);

  // Released by the device after a while, it goes on with the whole message.
  int waits = 0;
  const int32_t sent = FOutput.SendLongChunked(sysex.data(), 2500, [&](TMidiOutput& output, bool&) {
    if (++waits == 3)
      FService.StallOutput(LoopbackPortName, false);
    EXPECT_TRUE(output.PendingCount() <= 11);
  });
  EXPECT_EQ(sent, 2500);
  EXPECT_GE(waits, 3);
}

// A refused long send gets no completion: it must be released at once and not
// counted, or PendingCount stays high and chunked sends wait for ever.
TEST_F(Output, ARefusedLongSendIsNeitherCountedNorKept) {
  OpenOutput();
  FService.RefuseSends(LoopbackPortName, MidiErrNotReady);
  const auto sysex = test::SysEx(3000);
  EXPECT_FALSE(FOutput.SendLong(sysex.data(), 3000));
  EXPECT_EQ(FOutput.PendingCount(), 0);
  EXPECT_EQ(FOutput.SendLongChunked(sysex.data(), 3000, {}), 0);
  EXPECT_EQ(FOutput.PendingCount(), 0);
}

// Buffers the device took but could not deliver are counted, from completions
// that arrive on the writer thread while this thread reads the counts.
TEST_F(Output, LongBuffersTheDeviceCouldNotDeliverAreCounted) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  const auto sysex = test::SysEx(300);
  ASSERT_TRUE(FOutput.SendLong(sysex.data(), 300));
  ASSERT_TRUE(FOutput.WaitUntilDelivered(10000));
  EXPECT_EQ(FOutput.FailedBuffers(), 0);

  FService.StallOutput(LoopbackPortName, true);
  for (int32_t i = 0; i < 20; ++i)
    ASSERT_TRUE(FOutput.SendLong(sysex.data(), 100 + i));
  EXPECT_FALSE(FOutput.WaitUntilDelivered(0));
  FService.RefuseSends(LoopbackPortName, MidiErrNotReady);
  FService.StallOutput(LoopbackPortName, false);
  int64_t seen = 0;
  for (int wait = 0; wait < 10000 && !FOutput.WaitUntilDelivered(1); ++wait) {
    EXPECT_GE(FOutput.FailedBytes(), seen);
    seen = FOutput.FailedBytes();
  }
  EXPECT_EQ(FOutput.PendingCount(), 0);
  EXPECT_EQ(FOutput.FailedBuffers(), 20);
  EXPECT_EQ(FOutput.FailedBytes(), 20 * 100 + 19 * 20 / 2);

  // Taken again once the device accepts data; the count stays.
  FService.RefuseSends(LoopbackPortName, MidiOk);
  ASSERT_TRUE(FOutput.SendLong(sysex.data(), 300));
  ASSERT_TRUE(RunUntilEvents(2));
  EXPECT_EQ(FLongTotal, 600u);
  ASSERT_TRUE(FOutput.WaitUntilDelivered(10000));
  EXPECT_EQ(FOutput.FailedBuffers(), 20);
}

// A close lets the device take what is queued, short messages too; what it has
// not taken after a while is dropped and counted as failed, never as sent.
TEST_F(Output, ClosingWritesWhatIsQueuedForAWhileAndCountsTheRestAsFailed) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  FService.StallOutput(LoopbackPortName, true);
  const auto sysex = test::SysEx(5000);
  ASSERT_TRUE(FOutput.SendLong(sysex.data(), 5000));
  ASSERT_TRUE(FOutput.SendShort(0x90, 0x3C, 0x40));
  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    FService.StallOutput(LoopbackPortName, false);
  });
  FOutput.Close();
  device.join();
  ASSERT_TRUE(FPoster.RunUntil(
      [&] { return FLongTotal == 5000 && !FEvents.empty() && FEvents.back()->Status == 0x90; }));
  EXPECT_EQ(FOutput.FailedBytes(), 0);

  OpenOutput();
  FService.StallOutput(LoopbackPortName, true);
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(FOutput.SendLong(sysex.data(), 5000));
  ASSERT_TRUE(FOutput.SendShort(0xC0, 0x05, 0x00));
  EXPECT_EQ(FOutput.PendingCount(), 5);
  FOutput.Close();
  EXPECT_EQ(FOutput.PendingCount(), 0);
  EXPECT_EQ(FOutput.FailedBytes(), 5 * 5000 + 2);
  // The same holds for an output dropped because its device went away.
  OpenOutput();
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(FOutput.SendLong(sysex.data(), 5000));
  FService.RemoveOutput(LoopbackPortName);
  FService.AddOutput("Synth A");
  // The menu counts the devices before it validates the open one.
  FOutput.GetNumDevs();
  FOutput.ValidateOpenDevice();
  EXPECT_TRUE(FOutput.IsClosed());
  EXPECT_EQ(FOutput.PendingCount(), 0);
}

} // namespace
} // namespace pelrow
