// Set-up of the JACK integration tests.
#include "jack_fixture.h"

#include <chrono>
#include <thread>

namespace pelrow::testing {

namespace {
int IndexOf(TMidiService& service, const std::string& name, bool input) {
  const int count = input ? service.InputCount() : service.OutputCount();
  for (int i = 0; i < count; ++i) {
    std::string listed;
    const TMidiResult result = input ? service.InputName(i, listed) : service.OutputName(i, listed);
    if (result == MidiOk && listed == name)
      return i;
  }
  return -1;
}

template <typename TCondition> bool WaitUntil(TCondition condition, int timeoutMs) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
} // namespace

void JackTest::SetUp() {
  std::string failure;
  ASSERT_FALSE(EnsureJackServer(failure).empty()) << failure;
  FPeer = std::make_unique<TPeerProcess>(PeerKind());
  ASSERT_TRUE(FPeer->Running()) << "the peer script could not be started";
  FService = CreateJackMidiService(failure);
  ASSERT_TRUE(FService) << failure;
  FService->SetOnDevicesChanged([this] { ++FNotices; });
}

void JackTest::TearDown() {
  FService.reset();
  FPeer.reset();
}

int JackTest::WaitForInput(const std::string& name) {
  int index = -1;
  WaitUntil([&] { return (index = IndexOf(*FService, name, true)) >= 0; }, WaitMs);
  return index;
}

int JackTest::WaitForOutput(const std::string& name) {
  int index = -1;
  WaitUntil([&] { return (index = IndexOf(*FService, name, false)) >= 0; }, WaitMs);
  return index;
}

int JackTest::OpenPeerSource(const std::string& name) {
  EXPECT_TRUE(FPeer->Ok("open_out " + name));
  const int index = WaitForInput(TPeerProcess::PortName(name));
  EXPECT_GE(index, 0) << name << " never appeared";
  return index;
}

int JackTest::OpenPeerDestination(const std::string& name) {
  EXPECT_TRUE(FPeer->Ok("open_in " + name));
  const int index = WaitForOutput(TPeerProcess::PortName(name));
  EXPECT_GE(index, 0) << name << " never appeared";
  return index;
}

bool JackTest::WaitUntilGone(const std::string& name, bool input) {
  return WaitUntil([&] { return IndexOf(*FService, name, input) < 0; }, WaitMs);
}

} // namespace pelrow::testing
