// Shared set-up of the JACK integration tests: the server, a peer process and a
// JACK MIDI service of ours.
#pragma once

#include "midi/service/midi_service.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace pelrow::testing {

class JackTest : public ::testing::Test {
protected:
  static constexpr int WaitMs = 10000;
  static constexpr int BurstWaitMs = 60000;

  // The peer this fixture's tests talk to.
  virtual TPeerKind PeerKind() const { return TPeerKind::Reassembling; }
  void SetUp() override;
  void TearDown() override;

  // Index of the named device once it is listed (present) or gone; -1 on timeout.
  int WaitForInput(const std::string& name);
  int WaitForOutput(const std::string& name);
  bool WaitUntilGone(const std::string& name, bool input);
  // Has the peer open an output (input) port of that name and answers the index of
  // our input (output) device that reaches it; -1, with a failure, when it does not.
  int OpenPeerSource(const std::string& name);
  int OpenPeerDestination(const std::string& name);

  std::unique_ptr<TPeerProcess> FPeer;
  std::unique_ptr<TMidiService> FService;
  std::atomic<int> FNotices{0};
};

// An input of ours connected to the peer's output "src", started.
class JackInputTest : public JackTest {
protected:
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return; // no server or peer: the failure is reported, nothing to set up on
    const int index = OpenPeerSource("src");
    ASSERT_GE(index, 0);
    ASSERT_EQ(FService->OpenInput(index, FCollector.Callback(), FPort), MidiOk);
    FCollector.Attach(*FPort);
    ASSERT_EQ(FPort->Start(), MidiOk);
  }
  void TearDown() override {
    FCollector.Detach();
    FPort.reset();
    JackTest::TearDown();
  }

  TInputCollector FCollector;
  std::unique_ptr<TMidiInPort> FPort;
};

// An output of ours connected to the peer's input "dst".
class JackOutputTest : public JackTest {
protected:
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return; // no server or peer: the failure is reported, nothing to set up on
    const int index = OpenPeerDestination("dst");
    ASSERT_GE(index, 0);
    ASSERT_EQ(FService->OpenOutput(index, FSender.Callback(), FPort), MidiOk);
  }
  void TearDown() override {
    FPort.reset();
    JackTest::TearDown();
  }

  TOutputSender FSender;
  std::unique_ptr<TMidiOutPort> FPort;
};

} // namespace pelrow::testing
