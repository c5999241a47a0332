// The JACK backend when its server fails: frozen (SIGSTOP) or killed and started
// again. Each test runs a server of its own, so the shared one is never touched.
#include "jack_server_life_fixture.h"

namespace pelrow::testing {
namespace {

TEST_F(JackServerLife, AFrozenServerHangsNeitherSendsNorClose) {
  TOpenPair pair;
  ASSERT_NO_FATAL_FAILURE(OpenBoth(pair));
  TOutputSender& sender = pair.Sender;
  TInputCollector& collector = pair.Collector;
  std::unique_ptr<TMidiOutPort>& output = pair.Output;
  std::unique_ptr<TMidiInPort>& input = pair.Input;

  FServer.Freeze();
  // Sends are refused once the server is seen not to run its cycles, with a text
  // that says so.
  EXPECT_TRUE(WaitUntil([&] { return output->ShortMsg(0x403C90) != MidiOk; }, WaitMs));
  const TMidiResult refused = output->ShortMsg(0x403C90);
  std::string text;
  EXPECT_EQ(FService->OutErrorText(refused, text), MidiOk);
  EXPECT_EQ(text, "The JACK server is not responding.");
  EXPECT_EQ(sender.SendLong(*output, SysEx(100, 1)), refused);

  const auto start = Clock::now();
  collector.Detach();
  input.reset();
  output.reset();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(collector.AllHandedBack());
}

TEST_F(JackServerLife, AKilledServerIsSeenGoneAndItsPortsAreListedAgainWhenItIsBack) {
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_GE(WaitForPort(TPeerProcess::PortName("src"), true), 0);
  const int before = FNotices;
  FServer.Kill();
  EXPECT_TRUE(WaitUntil([&] { return FNotices > before; }, WaitMs));
  EXPECT_TRUE(WaitUntil([&] { return FService->InputCount() == 0; }, WaitMs));
  TInputCollector collector; // outlives the port, which hands its buffers back to it
  std::unique_ptr<TMidiInPort> port;
  std::string text;
  EXPECT_EQ(FService->InErrorText(FService->OpenInput(0, collector.Callback(), port), text),
            MidiOk);
  EXPECT_EQ(text, "The JACK server has stopped.");

  FPeer.reset();
  ASSERT_TRUE(FServer.Start());
  FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  const int noticesBack = FNotices;
  const int index = WaitForPort(TPeerProcess::PortName("src"), true);
  ASSERT_GE(index, 0) << "the port of the restarted server is not listed";
  EXPECT_GT(FNotices.load(), noticesBack - 1);

  ASSERT_EQ(FService->OpenInput(index, collector.Callback(), port), MidiOk);
  collector.Attach(*port);
  ASSERT_EQ(port->Start(), MidiOk);
  ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
  EXPECT_EQ(collector.WaitFor(3, WaitMs), (std::vector<uint8_t>{0x90, 0x3C, 0x40}));
  collector.Detach();
  port.reset();
}

} // namespace
} // namespace pelrow::testing
