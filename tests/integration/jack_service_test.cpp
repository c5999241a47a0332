// The JACK backend against a real server and a separate peer process.
#include "jack_fixture.h"
#include "support/midi_collectors.h"

#include <chrono>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(JackTest, ListsOtherClientsPortsByFullNameButNotItsOwn) {
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_TRUE(FPeer->Ok("open_in dst"));
  const int source = WaitForInput(TPeerProcess::PortName("src"));
  ASSERT_GE(source, 0);
  EXPECT_GE(WaitForOutput(TPeerProcess::PortName("dst")), 0);

  TInputCollector collector;
  std::unique_ptr<TMidiInPort> port;
  ASSERT_EQ(FService->OpenInput(source, collector.Callback(), port), MidiOk);
  for (int i = 0; i < FService->InputCount(); ++i) {
    std::string name;
    ASSERT_EQ(FService->InputName(i, name), MidiOk);
    EXPECT_NE(name, TPeerProcess::PortName("dst")) << "an input port is no source";
    EXPECT_NE(name.rfind("Pelrow:", 0), 0u) << "our own port is listed: " << name;
  }
  std::string untouched = "kept";
  EXPECT_NE(FService->InputName(FService->InputCount(), untouched), MidiOk);
  EXPECT_EQ(untouched, "kept");
}

TEST_F(JackTest, ReportsPortsComingAndGoingAndKeepsTheOthersInPlace) {
  ASSERT_TRUE(FPeer->Ok("open_out first"));
  const int first = WaitForInput(TPeerProcess::PortName("first"));
  ASSERT_GE(first, 0);
  const int before = FNotices;
  ASSERT_TRUE(FPeer->Ok("open_out second"));
  EXPECT_GT(WaitForInput(TPeerProcess::PortName("second")), first);
  EXPECT_GT(FNotices.load(), before);

  const int beforeRemoval = FNotices;
  ASSERT_TRUE(FPeer->Ok("close second"));
  EXPECT_TRUE(WaitUntilGone(TPeerProcess::PortName("second"), true));
  EXPECT_GT(FNotices.load(), beforeRemoval);
  EXPECT_EQ(WaitForInput(TPeerProcess::PortName("first")), first);
}

TEST_F(JackTest, OpeningAPortThatVanishedFailsWithNoDevice) {
  ASSERT_TRUE(FPeer->Ok("open_out gone"));
  const int index = WaitForInput(TPeerProcess::PortName("gone"));
  ASSERT_GE(index, 0);
  const int notices = FNotices;
  ASSERT_TRUE(FPeer->Ok("close gone"));
  while (FNotices == notices)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The list is read again only when the devices are counted, so the index still
  // names the port that went.
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> port;
  EXPECT_EQ(FService->OpenInput(index, collector.Callback(), port), MidiErrNoDevice);
  EXPECT_EQ(port, nullptr);
  EXPECT_EQ(FService->OpenInput(-1, collector.Callback(), port), MidiErrBadDeviceId);
}

TEST_F(JackInputTest, ShortMessagesAndSysExOfEverySizeArriveInOrder) {
  // 6 bytes, 1 KB, and 64 KB that JACK carries as a head and continuation pieces.
  const Bytes sent = Concat({{0x90, 0x3C, 0x40},
                             SysEx(6, 1),
                             {0xC0, 0x05},
                             SysEx(1024, 2),
                             {0xF8},
                             SysEx(64 * 1024, 3),
                             {0x80, 0x3C, 0x00}});
  ASSERT_TRUE(FPeer->SendBytes("src", sent));
  const Bytes received = FCollector.WaitFor(sent.size(), WaitMs);
  EXPECT_EQ(FCollector.Overflows(), 0);
  // A busy machine may make the server report an xrun while the large message
  // comes in pieces: it is then cut where the interruption is marked, and its rest
  // is not kept; everything else arrives as sent.
  EXPECT_EQ(DifferenceBesideCuts(received, sent, !FCollector.InterruptOffsets().empty()), "");
  EXPECT_LE(FCollector.LongErrors(), int(FCollector.InterruptOffsets().size()));
}

TEST_F(JackInputTest, TwoMegabyteBurstArrivesCompleteAndInOrder) {
  const Bytes sent = SysExBurst(2048, 1024);
  ASSERT_TRUE(FPeer->SendBytes("src", sent));
  const Bytes received = FCollector.WaitFor(sent.size(), BurstWaitMs);
  EXPECT_EQ(DifferenceBesideCuts(received, sent, !FCollector.InterruptOffsets().empty()), "");
  EXPECT_EQ(FCollector.Overflows(), 0);
}

TEST_F(JackInputTest, StopHandsBackAPartlyFilledBufferAndDropsLaterInput) {
  ASSERT_TRUE(FPeer->Ok("send src F0 01 02"));
  ASSERT_EQ(FCollector.WaitFor(3, 300).size(), 0u) << "an unfinished SysEx waits in its buffer";
  ASSERT_EQ(FPort->Stop(), MidiOk);
  EXPECT_EQ(FCollector.WaitFor(3, WaitMs), (Bytes{0xF0, 0x01, 0x02}));
  ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(FCollector.WaitFor(4, 0).size(), 3u);
}

TEST_F(JackInputTest, ClosingHandsBackEveryQueuedBufferAndStopsCallbacks) {
  ASSERT_TRUE(FPeer->Ok("send src F0 01 02"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  FCollector.Detach();
  FPort.reset();
  EXPECT_TRUE(FCollector.AllHandedBack());
  ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(FCollector.WaitFor(4, 0), (Bytes{0xF0, 0x01, 0x02}));
}

TEST_F(JackOutputTest, ShortAndLongMessagesReachThePeerInOrder) {
  const Bytes sysEx6 = SysEx(6, 1), sysEx1k = SysEx(1024, 2), sysEx64k = SysEx(64 * 1024, 3);
  ASSERT_EQ(FPort->ShortMsg(0x403C90), MidiOk);
  ASSERT_EQ(FSender.SendLong(*FPort, sysEx6), MidiOk);
  ASSERT_EQ(FSender.SendLong(*FPort, sysEx64k), MidiOk);
  // Queued behind 64 KB of SysEx, it must not land inside it.
  ASSERT_EQ(FPort->ShortMsg(0x05C0), MidiOk);
  ASSERT_EQ(FSender.SendLong(*FPort, sysEx1k), MidiOk);
  const Bytes expected = Concat({{0x90, 0x3C, 0x40}, sysEx6, sysEx64k, {0xC0, 0x05}, sysEx1k});
  EXPECT_EQ(Difference(FPeer->Receive("dst", expected.size(), WaitMs), expected), "");
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
  EXPECT_EQ(FSender.Completed(), 3u);
}

TEST_F(JackOutputTest, TwoMegabyteBurstReachesThePeerWhole) {
  const Bytes burst = SysExBurst(2048, 1024);
  for (size_t offset = 0; offset < burst.size(); offset += 1000) {
    const size_t count = std::min<size_t>(1000, burst.size() - offset);
    ASSERT_EQ(
        FSender.SendLong(*FPort, Bytes(burst.begin() + offset, burst.begin() + offset + count)),
        MidiOk);
  }
  const Bytes received = FPeer->Receive("dst", burst.size(), BurstWaitMs);
  EXPECT_EQ(Difference(received, burst), "");
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
}

TEST_F(JackOutputTest, ResetCompletesEveryQueuedBufferAtOnce) {
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(FSender.SendLong(*FPort, SysEx(32 * 1024, uint8_t(i))), MidiOk);
  ASSERT_EQ(FPort->Reset(), MidiOk);
  EXPECT_EQ(FSender.Completed(), FSender.Sent());
  // The port goes on working after a reset: a SysEx sent now arrives whole (the
  // peer gets it behind whatever part of the cut message had already gone out).
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  FPeer->Receive("dst", 0, 0); // forget the messages that went out whole
  const Bytes after = SysEx(100, 9);
  ASSERT_EQ(FSender.SendLong(*FPort, after), MidiOk);
  const Bytes received = FPeer->Receive("dst", after.size(), WaitMs);
  ASSERT_GE(received.size(), after.size());
  EXPECT_EQ(Bytes(received.end() - after.size(), received.end()), after);
  EXPECT_TRUE(FSender.WaitForCompletions(WaitMs));
}

TEST_F(JackOutputTest, ClosingCompletesEveryQueuedBuffer) {
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(FSender.SendLong(*FPort, SysEx(32 * 1024, uint8_t(i))), MidiOk);
  FPort.reset();
  EXPECT_EQ(FSender.Completed(), FSender.Sent());
}

} // namespace
} // namespace pelrow::testing
