// Shared set-up of the JACK integration tests: the server, a peer process and a
// JACK MIDI service of ours.
#pragma once

#include "midi/service/midi_service.h"
#include "support/jack_test_server.h"
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

  std::unique_ptr<TPeerProcess> FPeer;
  std::unique_ptr<TMidiService> FService;
  std::atomic<int> FNotices{0};
};

} // namespace pelrow::testing
