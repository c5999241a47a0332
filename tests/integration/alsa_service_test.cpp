// The ALSA backend's device list and open devices while other sequencer clients
// come and go: names by client and port, later ports announced, a far end that
// goes away and returns, places in the list that shift under an open device, and
// a reader thread that can wait for input no more.
#include "alsa_fixture.h"

#include <sys/resource.h>

#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(AlsaTest, ListsPortsByClientAndPortNameAndAnnouncesLaterOnes) {
  for (const char* name : {"Midi Through:Midi Through Port-0", "Virtual Raw MIDI 0-0:VirMIDI 0-0",
                           "Virtual Raw MIDI 0-3:VirMIDI 0-3"}) {
    EXPECT_GE(WaitForInput(name), 0) << name;
    EXPECT_GE(WaitForOutput(name), 0) << name;
  }
  const int before = FNotices;
  auto peer = std::make_unique<TAlsaPeer>("pelrow-test-late");
  ASSERT_TRUE(peer->Ready());
  EXPECT_GE(WaitForInput(peer->PortName()), 0);
  EXPECT_GE(WaitForOutput(peer->PortName()), 0);
  EXPECT_GT(FNotices.load(), before);
  const std::string name = peer->PortName();
  peer.reset();
  EXPECT_TRUE(WaitUntilGone(name, true));
  EXPECT_TRUE(WaitUntilGone(name, false));
}

// A synthesizer switched off and on again, or a program restarted: the open input
// reports the loss of its source and receives again from the port of that name.
TEST_F(AlsaTest, APeerThatGoesAwayIsReportedAndReachedAgainWhenItReturns) {
  const std::string client = "pelrow-test-peer";
  auto peer = std::make_unique<TAlsaPeer>(client);
  ASSERT_TRUE(peer->Ready());
  const int in = WaitForInput(peer->PortName()), out = WaitForOutput(peer->PortName());
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> input;
  ASSERT_EQ(FService->OpenInput(in, collector.Callback(), input), MidiOk);
  collector.Attach(*input);
  ASSERT_EQ(input->Start(), MidiOk);
  TOutputSender sender;
  std::unique_ptr<TMidiOutPort> output;
  ASSERT_EQ(FService->OpenOutput(out, sender.Callback(), output), MidiOk);

  const Bytes first = SysEx(300, 1), second = SysEx(300, 2);
  peer->Send(first);
  EXPECT_EQ(Difference(collector.WaitFor(first.size(), WaitMs), first), "");
  peer.reset();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
  while (collector.Disconnects() == 0 && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(collector.Disconnects(), 1);

  // Back under a new client number (another client took the old one meanwhile).
  TAlsaPeer other("pelrow-test-other");
  peer = std::make_unique<TAlsaPeer>(client);
  ASSERT_TRUE(peer->Ready());
  ASSERT_GE(WaitForInput(peer->PortName()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200)); // our reader follows the notice
  peer->Send(second);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(Difference(collector.WaitFor(both.size(), WaitMs), both), "");
  ASSERT_EQ(sender.SendLong(*output, second), MidiOk);
  EXPECT_EQ(Difference(peer->Receive(second.size(), WaitMs), second), "");
  EXPECT_TRUE(sender.WaitForCompletions(WaitMs));
  collector.Detach();
}

// Ports that leave before ours in the list, or join, move the numbers; the open
// device stays the one chosen.
TEST_F(AlsaTest, AnIndexShiftKeepsTheOpenDevice) {
  auto first = std::make_unique<TAlsaPeer>("pelrow-test-first");
  TAlsaPeer chosen("pelrow-test-chosen");
  ASSERT_TRUE(first->Ready() && chosen.Ready());
  ASSERT_GE(WaitForInput(first->PortName()), 0);
  const int index = WaitForInput(chosen.PortName());
  ASSERT_GE(index, 0);
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> input;
  ASSERT_EQ(FService->OpenInput(index, collector.Callback(), input), MidiOk);
  collector.Attach(*input);
  ASSERT_EQ(input->Start(), MidiOk);

  const std::string gone = first->PortName();
  first.reset();
  ASSERT_TRUE(WaitUntilGone(gone, true));
  TAlsaPeer later("pelrow-test-later");
  ASSERT_GE(WaitForInput(later.PortName()), 0);
  EXPECT_EQ(WaitForInput(chosen.PortName()), index - 1);

  const Bytes message = SysEx(100, 3);
  later.Send(SysEx(50, 4));
  chosen.Send(message);
  EXPECT_EQ(Difference(collector.WaitFor(message.size(), WaitMs), message), "");
  EXPECT_EQ(collector.Disconnects(), 0);
  collector.Detach();
}

// A reader thread whose wait for input fails fails the inputs it serves, with a
// reason that says so, instead of leaving them silent for good. Here poll refuses
// to wait because the process may have fewer files open than it would watch.
TEST_F(AlsaTest, AReaderThatCanWaitNoMoreFailsItsInputs) {
  struct TReaderCase {
    const char* What;
    const char* Card; // and device of the raw device that plays the source
    int Device;
    std::string Port; // empty: the virtual raw MIDI device's own port
  };
  const TReaderCase cases[] = {
      {"the sequencer's reader", "VirMIDI", 1, ""},
      {"the reader of a hardware port's raw device", "f_midi", 0, "Test Synth:Test Synth MIDI 1"},
  };
  const Bytes note = {0x90, 0x3C, 0x40};
  for (const TReaderCase& one : cases) {
    SCOPED_TRACE(one.What);
    std::string failure;
    FService = CreateAlsaMidiService(failure); // a reader of its own for each case
    ASSERT_TRUE(FService) << failure;
    TRawMidi source(one.Card, one.Device);
    ASSERT_TRUE(source.Ready());
    const int index = WaitForInput(one.Port.empty() ? source.PortName() : one.Port);
    ASSERT_GE(index, 0);
    TInputCollector collector;
    std::unique_ptr<TMidiInPort> input;
    ASSERT_EQ(FService->OpenInput(index, collector.Callback(), input), MidiOk);
    collector.Attach(*input);
    ASSERT_EQ(input->Start(), MidiOk);
    ASSERT_TRUE(source.WriteAtCablePace(note));
    ASSERT_EQ(Difference(collector.WaitFor(note.size(), WaitMs), note), "");

    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    rlimit oneFile = files;
    oneFile.rlim_cur = 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &oneFile), 0);
    // The reader wakes for the note; its next wait fails.
    const bool written = source.WriteAtCablePace(note);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
    while (collector.Failure() == MidiOk && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    EXPECT_TRUE(written);
    const TMidiResult reason = collector.Failure();
    ASSERT_NE(reason, MidiOk) << "the input was left without a word";
    std::string text;
    EXPECT_EQ(FService->InErrorText(reason, text), MidiOk);
    EXPECT_NE(text.find("can no longer be read"), std::string::npos) << text;
    collector.Detach();
    input.reset();
  }
}

} // namespace
} // namespace pelrow::testing
