// Shared set-up of the tests whose JACK server fails: a dummy server of the test's
// own (frozen, killed, started again), the raw peer and a JACK MIDI service.
#pragma once

#include "midi/service/midi_service.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pelrow::testing {

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
  // An output of ours to the peer's "dst" and a started input from its "src".
  struct TOpenPair {
    TOutputSender Sender;
    TInputCollector Collector;
    std::unique_ptr<TMidiOutPort> Output;
    std::unique_ptr<TMidiInPort> Input;
    ~TOpenPair() { Collector.Detach(); }
  };
  void OpenBoth(TOpenPair& pair) {
    ASSERT_TRUE(FPeer->Ok("open_in dst"));
    ASSERT_TRUE(FPeer->Ok("open_out src"));
    ASSERT_EQ(FService->OpenOutput(WaitForPort(TPeerProcess::PortName("dst"), false),
                                   pair.Sender.Callback(), pair.Output),
              MidiOk);
    ASSERT_EQ(FService->OpenInput(WaitForPort(TPeerProcess::PortName("src"), true),
                                  pair.Collector.Callback(), pair.Input),
              MidiOk);
    pair.Collector.Attach(*pair.Input);
    ASSERT_EQ(pair.Input->Start(), MidiOk);
  }
  // The ports of our client as the server lists them.
  std::vector<std::string> OurPorts() {
    std::istringstream words(FPeer->Command("ports Pelrow"));
    std::vector<std::string> names;
    std::string word;
    words >> word; // "ok"
    while (words >> word)
      names.push_back(word);
    return names;
  }

  TJackServerProcess FServer{"pelrow-life-" + std::to_string(getpid())};
  std::unique_ptr<TPeerProcess> FPeer;
  std::unique_ptr<TMidiService> FService;
  std::atomic<int> FNotices{0};
};

} // namespace pelrow::testing
