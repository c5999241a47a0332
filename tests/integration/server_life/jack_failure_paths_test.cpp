// The JACK backend's failure paths end to end, over a server of the test's own and
// the raw peer: a server frozen, stalled past the not-responding bound, killed
// while ports are held, or started after the program; a destination that goes
// away and comes back; pelrow-cli receive when the server dies under it.
#include "cli_process.h"
#include "jack_server_life_fixture.h"
#include "midi/midi_menu.h"
#include "support/queued_poster.h"
#include "support/scratch_folder.h"

namespace pelrow::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const std::string Dst = TPeerProcess::PortName("dst");
const std::string Src = TPeerProcess::PortName("src");

bool ServerAnswers(TMidiService& service) {
  return service.Failure() == MidiOk;
}

// A burst is on its way when the server freezes and the output is closed: what
// completed as sent had arrived, everything else completed as failed, and once the
// server runs again the closed output writes nothing more (it used to repeat its
// last period every cycle) while the input goes on.
TEST_F(JackServerLife, AnOutputClosedWhileTheServerIsFrozenIsSilentAndItsLossCounted) {
  TOpenPair pair;
  ASSERT_NO_FATAL_FAILURE(OpenBoth(pair));
  TOutputSender& sender = pair.Sender;
  TInputCollector& collector = pair.Collector;
  std::unique_ptr<TMidiOutPort>& output = pair.Output;
  size_t total = 0;
  for (uint8_t i = 0; i < 100; ++i) {
    const Bytes burst = SysExBurst(10, 2000);
    ASSERT_EQ(sender.SendLong(*output, burst), MidiOk);
    total += burst.size();
  }
  std::this_thread::sleep_for(50ms);
  FServer.Freeze();
  ASSERT_TRUE(WaitUntil([&] { return !ServerAnswers(*FService); }, WaitMs));
  ASSERT_TRUE(sender.WaitForCompletions(WaitMs));
  std::this_thread::sleep_for(200ms); // the peer stores what its last period held
  const size_t arrived = FPeer->Receive("dst", 0, 0).size();
  EXPECT_LE(sender.DeliveredBytes(), arrived) << "completed as sent but never arrived";
  EXPECT_GE(arrived + sender.FailedBytes(), total) << "bytes neither arrived nor failed";
  EXPECT_GT(sender.FailedBytes(), 0u) << "the burst ended before the freeze";

  output.reset();
  FServer.Thaw();
  ASSERT_TRUE(WaitUntil([&] { return ServerAnswers(*FService); }, WaitMs));
  ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
  EXPECT_EQ(collector.WaitFor(3, WaitMs), (Bytes{0x90, 0x3C, 0x40}));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(FPeer->Receive("dst", 0, 0).size(), 0u) << "the closed output still writes";
  const std::vector<std::string> ports = OurPorts();
  ASSERT_EQ(ports.size(), 1u) << "the closed output is still registered";
  EXPECT_EQ(ports[0].rfind("Pelrow:in_", 0), 0u);
  collector.Detach();
}

// The client left open because its server was frozen when the service went must
// not call into the service when the server runs again and ports come and go.
TEST_F(JackServerLife, AServiceGoneWhileItsServerWasFrozenIsNotCalledWhenItRuns) {
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_GE(WaitForPort(Src, true), 0);
  FServer.Freeze();
  ASSERT_TRUE(WaitUntil([&] { return !ServerAnswers(*FService); }, WaitMs));
  FService.reset();
  FServer.Thaw();
  ASSERT_TRUE(FPeer->Ok("open_out later"));
  ASSERT_TRUE(FPeer->Ok("close src"));
  std::this_thread::sleep_for(500ms); // the registration notices reach the client
}

// The server is killed while ports of ours stay open for a while, across the
// service's attempts to reach a server again; the client of the dead server is
// closed before a new one is opened (they crashed inside libjack when both were
// open), and after the restart ports open and carry data as before.
TEST_F(JackServerLife, PortsHeldAcrossAServerKillAndRestartCrashNothing) {
  for (const int holdMs : {0, 1500, 3000, 5000}) {
    SCOPED_TRACE("ports held " + std::to_string(holdMs) + " ms after the kill");
    TOpenPair pair;
    ASSERT_NO_FATAL_FAILURE(OpenBoth(pair));
    FServer.Kill();
    const auto until = Clock::now() + std::chrono::milliseconds(holdMs);
    do {
      FService->InputCount(); // as the window counts on each notice
      std::this_thread::sleep_for(50ms);
    } while (Clock::now() < until);
    EXPECT_TRUE(WaitUntil([&] { return pair.Collector.Failure() != MidiOk; }, WaitMs));
    std::string text;
    EXPECT_EQ(FService->InErrorText(pair.Collector.Failure(), text), MidiOk);
    EXPECT_EQ(text, "The JACK server has stopped.");
    EXPECT_NE(pair.Output->ShortMsg(0x403C90), MidiOk);
    pair.Input.reset();
    pair.Output.reset();

    FPeer->Kill();
    ASSERT_TRUE(FServer.Start());
    FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    TOpenPair again;
    ASSERT_NO_FATAL_FAILURE(OpenBoth(again));
    ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
    EXPECT_EQ(again.Collector.WaitFor(3, WaitMs), (Bytes{0x90, 0x3C, 0x40}));
    // A fresh server on a busy machine may stall past the not-responding bound.
    ASSERT_TRUE(WaitUntil([&] { return again.Output->ShortMsg(0x403C90) == MidiOk; }, WaitMs));
    EXPECT_EQ(FPeer->Receive("dst", 3, WaitMs), (Bytes{0x90, 0x3C, 0x40}));
    again.Input.reset();
    again.Output.reset();
    FPeer->Ok("close dst");
    FPeer->Ok("close src");
  }
}

// The receiving synth is switched off and on: the open output is connected to its
// port again by name, and what is sent then arrives once. Switched off by its own
// hand (the port closed) or by a crash (the process killed).
TEST_F(JackServerLife, AnOutputIsConnectedAgainWhenItsDestinationComesBack) {
  for (const bool crash : {false, true}) {
    SCOPED_TRACE(crash ? "peer killed" : "port closed");
    TOutputSender sender;
    std::unique_ptr<TMidiOutPort> output;
    ASSERT_TRUE(FPeer->Ok("open_in dst"));
    ASSERT_EQ(FService->OpenOutput(WaitForPort(Dst, false), sender.Callback(), output), MidiOk);
    ASSERT_EQ(output->ShortMsg(0x403C90), MidiOk);
    ASSERT_EQ(FPeer->Receive("dst", 3, WaitMs).size(), 3u);

    if (crash) {
      FPeer->Kill();
      FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    } else {
      ASSERT_TRUE(FPeer->Ok("close dst"));
    }
    EXPECT_TRUE(WaitUntil([&] { return output->ShortMsg(0x403C90) != MidiOk; }, WaitMs))
        << "the output never noticed that its destination went";
    ASSERT_TRUE(FPeer->Ok("open_in dst"));
    // The first send taken after the return is a note, then a SysEx: each arrives once.
    ASSERT_TRUE(WaitUntil([&] { return output->ShortMsg(0x403C90) == MidiOk; }, WaitMs))
        << "the output was not connected again";
    const Bytes message = SysEx(300, 7);
    ASSERT_EQ(sender.SendLong(*output, message), MidiOk);
    ASSERT_TRUE(sender.WaitForCompletions(WaitMs));
    EXPECT_EQ(sender.FailedBytes(), 0u);
    Bytes expected{0x90, 0x3C, 0x40};
    expected.insert(expected.end(), message.begin(), message.end());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Difference(FPeer->Receive("dst", expected.size(), WaitMs), expected), "");
    output.reset();
    ASSERT_TRUE(FPeer->Ok("close dst"));
  }
}

// The window over a server that stalls past the not-responding bound: both menus
// let go of their devices and say why, open them again once the server runs, and
// then exactly one port of ours stands for each device; each message arrives once.
TEST_F(JackServerLife, AStallLeavesOnePortPerOpenDeviceAndSaysWhyDevicesClosed) {
  ASSERT_TRUE(FPeer->Ok("open_in dst"));
  ASSERT_TRUE(FPeer->Ok("open_out src"));
  ASSERT_GE(WaitForPort(Dst, false), 0);
  ASSERT_GE(WaitForPort(Src, true), 0);
  TQueuedPoster poster;
  TMenuModel inModel;
  TMenuModel outModel;
  TMidiInMenu in(*FService, poster);
  TMidiOutMenu out(*FService);
  std::vector<std::string> texts;
  std::vector<uint8_t> received;
  for (TMidiMenuBase* menu : {static_cast<TMidiMenuBase*>(&in), static_cast<TMidiMenuBase*>(&out)})
    menu->OnTextMessage = [&](TMidiMenuBase&, const std::string& text) { texts.push_back(text); };
  in.SetOnMidiData([&](TMidiInput& input) {
    // The stall makes the server report interruptions: warnings, not messages.
    while (auto event = input.GetEvent())
      if (event->Gap == TInputGap::None)
        received.push_back(event->Status);
  });
  in.SetBaseMenu(&inModel);
  out.SetBaseMenu(&outModel);
  FService->SetOnDevicesChanged([&] {
    poster.Post([&] {
      in.RefreshDeviceList(false, true);
      out.RefreshDeviceList(false, true);
    });
  });
  const auto click = [](TMenuModel& model, const std::string& caption) {
    for (size_t i = 0; i < model.Count(); ++i)
      if (model.Item(i).Caption == caption)
        return model.Click(&model.Item(i));
    return false;
  };
  ASSERT_TRUE(click(inModel, Src));
  ASSERT_TRUE(click(outModel, Dst));
  ASSERT_FALSE(in.IsClosed());
  ASSERT_FALSE(out.IsClosed());

  FServer.Freeze();
  EXPECT_TRUE(poster.RunUntil([&] { return in.IsClosed() && out.IsClosed(); }, 10s));
  FServer.Thaw();
  ASSERT_TRUE(poster.RunUntil([&] { return !in.IsClosed() && !out.IsClosed(); }, 15s));
  const std::string why = ". The JACK server is not responding.";
  for (const std::string& closed :
       {"Closed MIDI IN: " + Src + why, "Closed MIDI OUT: " + Dst + why})
    EXPECT_NE(std::find(texts.begin(), texts.end(), closed), texts.end()) << closed;

  std::vector<std::string> ports = OurPorts();
  std::sort(ports.begin(), ports.end());
  ASSERT_EQ(ports.size(), 2u) << "ports of ours: " << ports.size();
  EXPECT_EQ(ports[0].rfind("Pelrow:in_", 0), 0u);
  EXPECT_EQ(ports[1].rfind("Pelrow:out_", 0), 0u);
  // A new connection carries data from a later cycle on: sent until it arrives.
  ASSERT_TRUE(poster.RunUntil(
      [&] {
        return FPeer->Ok("send src 90 3C 40") &&
               poster.RunUntil([&] { return !received.empty(); }, 200ms);
      },
      10s));
  // A retry may still have been on its way; once all is quiet, one message sent
  // arrives once.
  poster.RunUntil([] { return false; }, 500ms);
  received.clear();
  ASSERT_TRUE(FPeer->Ok("send src 90 3C 40"));
  poster.RunUntil([&] { return !received.empty(); }, 5s);
  poster.RunUntil([] { return false; }, 300ms);
  EXPECT_EQ(received, Bytes{0x90});
  ASSERT_TRUE(out.Output().SendShort(0x90, 0x3C, 0x40));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(FPeer->Receive("dst", 3, WaitMs), (Bytes{0x90, 0x3C, 0x40}));
}

// pelrow-cli receive and request when the server dies mid-capture: they end at
// once with exit status 3, say why, and keep what had arrived, also when only the
// quiet time would end them.
TEST_F(JackServerLife, CapturesEndWithAFailureWhenTheServerDies) {
  const std::string dst = TPeerProcess::PortName("dst");
  const std::vector<std::vector<std::string>> commands = {
      {"receive", "--in", Src, "--timeout", "60000"},
      {"receive", "--in", Src, "--quiet", "60000"},
      {"request", "--out", dst, "--in", Src, "--hex", "F0 7E 7F 06 01 F7", "--quiet", "60000"},
  };
  for (const auto& command : commands) {
    const std::string joined = ::testing::PrintToString(command);
    if (&command != &commands.front()) { // a server and peer of its own each round
      FPeer.reset();
      ASSERT_TRUE(FServer.Start()) << joined;
      FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    }
    ASSERT_TRUE(FPeer->Ok("open_out src"));
    ASSERT_TRUE(FPeer->Ok("open_in dst"));
    ASSERT_GE(WaitForPort(Src, true), 0);
    TScratchFolder folder;
    std::vector<std::string> args = {"--midi=jack"};
    args.insert(args.end(), command.begin(), command.end());
    TCliProcess capture(args, folder.Path());
    ASSERT_TRUE(WaitUntil([&] { return FPeer->Command("connections src") == "ok 1"; }, WaitMs));
    std::this_thread::sleep_for(300ms); // connected, and listening
    ASSERT_TRUE(FPeer->Ok("send src F0 01 02 F7"));
    std::this_thread::sleep_for(300ms);
    const auto killed = Clock::now();
    FServer.Kill();
    const TCliResult result = capture.Wait(WaitMs);
    EXPECT_LT(Clock::now() - killed, 5s) << joined;
    EXPECT_EQ(result.Status, 3) << joined << ": " << result.Err;
    EXPECT_NE(result.Err.find("failed: The JACK server has stopped."), std::string::npos)
        << joined << ": " << result.Err;
    EXPECT_NE(result.Out.find("F0 01 02 F7"), std::string::npos) << joined << ": " << result.Out;
  }
}

// pelrow-cli send at the cable's pace when the server freezes for longer than the
// not-responding bound: the send fails, and the bytes it says went out are exactly
// what the peer has once the server runs again, every message whole.
TEST_F(JackServerLife, ASendCutByAFrozenServerCountsWhatArrived) {
  ASSERT_TRUE(FPeer->Ok("open_in dst"));
  ASSERT_GE(WaitForPort(Dst, false), 0);
  // The test's own client would be caught in the freeze, with a call under way that
  // keeps it open past the test: only pelrow-cli meets the frozen server.
  FService.reset();
  TScratchFolder folder;
  const Bytes dump = SysExBurst(200, 100);
  WriteWholeFile(folder.Path("dump.syx"), std::string(dump.begin(), dump.end()));
  TCliProcess send({"--midi=jack", "send", "--out", Dst, "--speed", "0", folder.Path("dump.syx")},
                   folder.Path());
  const auto arrived = [&] {
    const std::string reply = FPeer->Command("count dst");
    return reply.rfind("ok ", 0) == 0 ? std::stoull(reply.substr(3)) : 0;
  };
  ASSERT_TRUE(WaitUntil([&] { return arrived() >= 3000; }, WaitMs)) << send.Wait(0).Err;
  FServer.Freeze();
  const TCliResult result = send.Wait(WaitMs);
  FServer.Thaw();
  ASSERT_EQ(result.Status, 3) << result.Err;
  const std::string lead = "The MIDI output device refused the data (sent ";
  const size_t at = result.Err.find(lead);
  ASSERT_NE(at, std::string::npos) << result.Err;
  const size_t sent = std::stoull(result.Err.substr(at + lead.size()));
  std::this_thread::sleep_for(500ms); // the peer stores what its last period held
  const Bytes got = FPeer->Receive("dst", 0, 0);
  EXPECT_EQ(got.size(), sent) << result.Err;
  EXPECT_EQ(Difference(got, Bytes(dump.begin(), dump.begin() + std::min(sent, dump.size()))), "");
}

// Started with no server running, the service lists the ports of one that starts
// later, as after a restart.
TEST(JackServerLateStart, AServerStartedAfterTheServiceIsPickedUp) {
  TJackServerProcess server("pelrow-late-" + std::to_string(getpid()));
  std::unique_ptr<TMidiService> service = CreateJackMidiServiceAwaitingServer();
  ASSERT_TRUE(service);
  EXPECT_EQ(service->InputCount(), 0);
  std::string text;
  EXPECT_EQ(service->InErrorText(service->Failure(), text), MidiOk);
  ASSERT_TRUE(server.Start());
  TPeerProcess peer(TPeerKind::RawEvents);
  ASSERT_TRUE(peer.Ok("open_out src"));
  int index = -1;
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::string name;
        for (int i = 0; i < service->InputCount(); ++i)
          if (service->InputName(i, name) == MidiOk && name == Src)
            index = i;
        return index >= 0;
      },
      15000));
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> port;
  ASSERT_EQ(service->OpenInput(index, collector.Callback(), port), MidiOk);
  collector.Attach(*port);
  ASSERT_EQ(port->Start(), MidiOk);
  ASSERT_TRUE(peer.Ok("send src 90 3C 40"));
  EXPECT_EQ(collector.WaitFor(3, 10000), (Bytes{0x90, 0x3C, 0x40}));
  collector.Detach();
}

} // namespace
} // namespace pelrow::testing
