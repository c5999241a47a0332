// The JACK backend when its server fails: frozen (SIGSTOP) or killed and started
// again. Each test runs a server of its own, so the shared one is never touched.
#include "midi/service/midi_service.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

namespace pelrow::testing {
namespace {

using Clock = std::chrono::steady_clock;

template <typename TCondition> bool WaitUntil(TCondition condition, int timeoutMs) {
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() > limit)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class JackServerLife : public ::testing::Test {
protected:
  static constexpr int WaitMs = 15000;

  void SetUp() override {
    ASSERT_TRUE(FServer.Start()) << "no jackd";
    FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    std::string failure;
    FService = CreateJackMidiService(failure);
    ASSERT_TRUE(FService) << failure;
    FService->SetOnDevicesChanged([this] { ++FNotices; });
  }
  void TearDown() override {
    FServer.Thaw();
    FService.reset();
    FPeer.reset();
  }

  int Find(const std::string& name, bool input) {
    const int count = input ? FService->InputCount() : FService->OutputCount();
    for (int i = 0; i < count; ++i) {
      std::string listed;
      if ((input ? FService->InputName(i, listed) : FService->OutputName(i, listed)) == MidiOk &&
          listed == name)
        return i;
    }
    return -1;
  }
  int WaitForPort(const std::string& name, bool input) {
    int index = -1;
    WaitUntil([&] { return (index = Find(name, input)) >= 0; }, WaitMs);
    return index;
  }

  TJackServerProcess FServer{"pelrow-life-" + std::to_string(getpid())};
  std::unique_ptr<TPeerProcess> FPeer;
  std::unique_ptr<TMidiService> FService;
  std::atomic<int> FNotices{0};
};

TEST_F(JackServerLife, AFrozenServerHangsNeitherSendsNorClose) {
  ASSERT_TRUE(FPeer->Ok("open_in dst"));
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  TOutputSender sender;
  TInputCollector collector;
  std::unique_ptr<TMidiOutPort> output;
  std::unique_ptr<TMidiInPort> input;
  ASSERT_EQ(FService->OpenOutput(WaitForPort(TPeerProcess::PortName("dst"), false),
                                 sender.Callback(), output),
            MidiOk);
  ASSERT_EQ(FService->OpenInput(WaitForPort(TPeerProcess::PortName("src"), true),
                                collector.Callback(), input),
            MidiOk);
  collector.Attach(*input);
  ASSERT_EQ(input->Start(), MidiOk);

  FServer.Freeze();
  // Sends are refused once the server is seen not to run its cycles, with a text
  // that says so.
  EXPECT_TRUE(WaitUntil([&] { return output->ShortMsg(0x403C90) != MidiOk; }, 5000));
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
