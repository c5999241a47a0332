// pelrow-cli end to end over JACK: the built program as a separate process against
// the dummy server and the peer process, as a script would use it.
#include "app/line_formatter.h"
#include "cli_process.h"
#include "jack_fixture.h"
#include "support/midi_collectors.h"
#include "support/scratch_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int ConnectWaitMs = 10000;
// After the program's input shows up connected, it still has to start listening.
constexpr auto ListeningMargin = std::chrono::milliseconds(200);

std::string HexByte(uint8_t byte) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  return {Digits[byte >> 4], Digits[byte & 15]};
}

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

Bytes BytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

constexpr char XrunWarning[] = "pelrow-cli: may be incomplete: the MIDI system was interrupted "
                               "while input came; input may be missing\n";

// What follows when such an interruption cut messages under way.
constexpr char CutWarning[] = "pelrow-cli: may be incomplete: messages cut short";

// The warning of a send (a request's) during which the server reported xruns.
constexpr char SendXrunWarning[] = "pelrow-cli: warning: The JACK server reported ";

// The text without the xrun warnings and their marks: a busy machine may make the
// server report an xrun, which is a warning and never a loss.
std::string WithoutXrunWarnings(const std::string& text) {
  std::string kept;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    const std::string line = text.substr(at, end - at);
    if (line != XrunWarning && line.rfind(SendXrunWarning, 0) != 0 &&
        line.rfind(CutWarning, 0) != 0 && MarkLineKind(line) != TMarkLine::Possible)
      kept += line;
    at = end;
  }
  return kept;
}

// The exit status, or expected where it differs only by the status of a capture
// that may be incomplete because the server reported an xrun while input came.
int StatusBesideXruns(const TCliResult& result, int expected) {
  const bool onlyXruns =
      result.Status == 4 && result.Err.find(XrunWarning) != std::string::npos &&
      WithoutXrunWarnings(result.Err).find("may be incomplete") == std::string::npos;
  return onlyXruns ? expected : result.Status;
}

// Whether the capture said that the MIDI system was interrupted while input came:
// then a message under way may have been cut.
bool Interrupted(const TCliResult& result) {
  return result.Err.find(XrunWarning) != std::string::npos;
}

class CliJack : public JackTest {
protected:
  void SetUp() override {
    JackTest::SetUp();
    if (HasFatalFailure())
      return; // no server or peer: the failure is reported, nothing to set up on
    if (HasFatalFailure())
      return;
    ASSERT_TRUE(FPeer->Ok("open_in dst"));
    ASSERT_TRUE(FPeer->Ok("open_out src"));
    ASSERT_GE(WaitForOutput(Dst), 0);
    ASSERT_GE(WaitForInput(Src), 0);
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = FFolder.Path(name);
    WriteWholeFile(path, Text(bytes));
    return path;
  }
  size_t PeerCount(const std::string& name) {
    const std::string reply = FPeer->Command("count " + name);
    return reply.rfind("ok ", 0) == 0 ? std::stoull(reply.substr(3)) : 0;
  }
  // Starts a capturing command and waits until it listens at the peer's output.
  std::unique_ptr<TCliProcess> StartListening(const std::vector<std::string>& args,
                                              const TCliStart& start = {}) {
    const int before = JackConnections(Src);
    auto process = std::make_unique<TCliProcess>(args, FFolder.Path(), start);
    EXPECT_TRUE(WaitForMoreJackConnections(Src, before, ConnectWaitMs));
    std::this_thread::sleep_for(ListeningMargin);
    return process;
  }

  const std::string Dst = TPeerProcess::PortName("dst");
  const std::string Src = TPeerProcess::PortName("src");
  TScratchFolder FFolder;
};

TEST_F(CliJack, SendsAMegabyteAtFullSpeedByteForByte) {
  const Bytes dump = MixedDump(1 << 20);
  const std::string file = Write("dump.syx", dump);
  const TCliResult result =
      RunCli({"--midi=jack", "send", "--out", Dst, "--speed", "1000", file}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  // A busy machine may make the server report interruptions: that warning alone.
  const bool interruptionsOnly =
      result.Err.starts_with("pelrow-cli: warning: The JACK server reported ") &&
      std::count(result.Err.begin(), result.Err.end(), '\n') == 1;
  EXPECT_TRUE(result.Err.empty() || interruptionsOnly) << result.Err;
  EXPECT_EQ(Difference(FPeer->Receive("dst", dump.size(), WaitMs), dump), "");
}

// At speed 0 the pace is the MIDI cable's, 3125 bytes a second, where the bytes
// arrive: never faster (a busy machine may make it slower; BM_SendPacing measures
// the rate itself), and everything arrives whole and in order.
TEST_F(CliJack, GoesNoFasterThanTheCableAtSpeedZero) {
  const Bytes dump = SysExBurst(200, 100);
  const std::string file = Write("slow.syx", dump);
  TCliProcess process({"--midi=jack", "send", "--out", Dst, "--speed", "0", file}, FFolder.Path());
  size_t firstCount = 0;
  Clock::time_point first, last;
  const auto limit = Clock::now() + std::chrono::seconds(30);
  for (size_t count = 0; count < dump.size() && Clock::now() < limit;) {
    count = PeerCount("dst");
    if (count > 0 && firstCount == 0) {
      firstCount = count;
      first = Clock::now();
    }
    last = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(Difference(FPeer->Receive("dst", dump.size(), WaitMs), dump), "");
  const double seconds = std::chrono::duration<double>(last - first).count();
  ASSERT_GT(seconds, 0.0);
  EXPECT_GE(seconds, 0.98 * double(dump.size() - firstCount) / 3125.0);
}

// Standard input and --hex texts go out in the order they are named.
TEST_F(CliJack, SendsHexFromStandardInputAndTheCommandLineInOrder) {
  const TCliResult result =
      RunCli({"--midi=jack", "send", "--out", Dst, "--hex", "F0 02 F7", "-", "--hex", "C0 05"},
             FFolder.Path(), "F0 01 F7\n90 3C 40 ; a note\n");
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  const Bytes sent = {0xF0, 0x02, 0xF7, 0xF0, 0x01, 0xF7, 0x90, 0x3C, 0x40, 0xC0, 0x05};
  EXPECT_EQ(Difference(FPeer->Receive("dst", sent.size(), WaitMs), sent), "");
}

TEST_F(CliJack, ReceivesATwoMegabyteDumpIntoTheExactSyx) {
  const std::string file = FFolder.Path("dump.syx");
  auto process =
      StartListening({"--midi=jack", "receive", "--in", Src, "--quiet", "500", "-o", file});
  const Bytes dump = SysExBurst(2048, 1024);
  ASSERT_TRUE(FPeer->SendBytes("src", dump));
  const TCliResult result = process->Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(WithoutXrunWarnings(result.Err), "");
  EXPECT_EQ(DifferenceBesideCuts(BytesOf(ReadWholeFile(file)), dump, Interrupted(result)), "");
}

// Hex lines on standard output, one a message, each a valid line for the window's
// Out box; Ctrl-C ends the capture and keeps what arrived.
TEST_F(CliJack, ReceivesHexLinesUntilCtrlC) {
  auto process = StartListening({"--midi=jack", "receive", "--in", Src});
  ASSERT_TRUE(FPeer->SendBytes("src", {0xF0, 0x7E, 0x00, 0xF7, 0x90, 0x3C, 0x40, 0xC0, 0x05}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  process->Signal(SIGINT);
  const TCliResult result = process->Wait();
  EXPECT_EQ(StatusBesideXruns(result, 130), 130) << result.Err;
  EXPECT_EQ(WithoutXrunWarnings(result.Out), "F0 7E 00 F7\n90 3C 40\nC0 05\n");
}

// A reader of standard output that pauses while a dump comes in holds up only the
// writing: every message is taken, none is lost, and all of them are written once
// the reader is back, also when the capture has ended meanwhile.
TEST_F(CliJack, AReaderThatPausesCostsNoInput) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  TCliStart start;
  start.OutputFd = pipe[1];
  auto process = StartListening({"--midi=jack", "receive", "--in", Src, "--quiet", "1000"}, start);
  ::close(pipe[1]);
  std::string out;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    char buffer[65536];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
      out.append(buffer, size_t(got));
  });
  const Bytes dump = TaggedBurst(0, 2500, 1000);
  const bool sent = FPeer->SendBytes("src", dump);
  const TCliResult result = process->Wait();
  reader.join();
  ::close(pipe[0]);
  ASSERT_TRUE(sent);
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(WithoutXrunWarnings(result.Err), "");
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < out.size(); at = end + 1) {
    end = std::min(out.find('\n', at), out.size());
    lines.push_back(out.substr(at, end - at));
  }
  const TMarkedBytes kept = ReadMarkedLines(lines);
  EXPECT_TRUE(kept.LossOffsets.empty());
  EXPECT_EQ(Difference(kept.Bytes, dump), "");
}

TEST_F(CliJack, RequestCapturesThePeersReply) {
  const std::string file = FFolder.Path("reply.syx");
  const Bytes request = {0xF0, 0x43, 0x20, 0x7F, 0x1C, 0x00, 0xF7};
  TCliProcess process({"--midi=jack", "request", "--out", Dst, "--in", Src, "--hex",
                       "F0 43 20 7F 1C 00 F7", "--quiet", "500", "-o", file},
                      FFolder.Path());
  // The peer answers once the request has come, as a synthesizer does.
  EXPECT_EQ(Difference(FPeer->Receive("dst", request.size(), WaitMs), request), "");
  const Bytes reply = SysExBurst(40, 256);
  ASSERT_TRUE(FPeer->SendBytes("src", reply));
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(DifferenceBesideCuts(BytesOf(ReadWholeFile(file)), reply, Interrupted(result)), "");
}

TEST_F(CliJack, ARequestWithoutReplyFailsAndWritesNothing) {
  const std::string file = Write("old.syx", {0xF0, 0x01, 0xF7});
  const TCliResult result = RunCli({"--midi=jack", "request", "--out", Dst, "--in", Src, "--hex",
                                    "F0 43 20 F7", "--timeout", "700", "-o", file},
                                   FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 3), 3);
  EXPECT_EQ(WithoutXrunWarnings(result.Err),
            "pelrow-cli: no reply from \"" + Src + "\" within 700 ms\n");
  EXPECT_EQ(ReadWholeFile(file), Text({0xF0, 0x01, 0xF7}));
}

// Whatever is wrong, nothing goes out and no file changes.
TEST_F(CliJack, BadInputSendsNothing) {
  const std::string good = Write("good.syx", {0xF0, 0x01, 0xF7});
  const std::string bad = FFolder.Path("bad.txt");
  WriteWholeFile(bad, "F0 01 02 F7\r\n  F0 0x 03 F7\r\n");

  // The port is checked before the input is read.
  TCliResult result =
      RunCli({"--midi=jack", "send", "--out", "nowhere", good, bad}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 2), 2);
  EXPECT_NE(result.Err.find("no MIDI output \"nowhere\"; the outputs are "), std::string::npos)
      << result.Err;
  EXPECT_NE(result.Err.find("\"" + Dst + "\""), std::string::npos) << result.Err;
  EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1);

  result = RunCli({"--midi=jack", "send", "--out", Dst, good, FFolder.Path("missing.syx")},
                  FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 1), 1);
  EXPECT_EQ(result.Err, "pelrow-cli: Could not open " + FFolder.Path("missing.syx") +
                            ": No such file or directory\n");

  // The good file comes first: it would go out if the input were not checked whole.
  result = RunCli({"--midi=jack", "send", "--out", Dst, good, bad}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 1), 1);
  EXPECT_EQ(result.Err, "pelrow-cli: " + bad + ":2:7: Unexpected characters: \"0x\"\n");

  result = RunCli({"--midi=jack", "receive", "--in", "nowhere"}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 2), 2);
  EXPECT_NE(result.Err.find("\"" + Src + "\""), std::string::npos) << result.Err;

  result = RunCli({"--midi=jack", "request", "--out", Dst, "--in", Src, "--hex", "F0 7E F7", "-o",
                   FFolder.Path()},
                  FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 1), 1);
  EXPECT_EQ(result.Err,
            "pelrow-cli: Cannot create file \"" + FFolder.Path() + "\". Is a directory\n");

  EXPECT_EQ(PeerCount("dst"), 0u);
  EXPECT_EQ(ReadWholeFile(good), Text({0xF0, 0x01, 0xF7}));
}

// The same against a peer that sees every event as it was written.
class CliJackRaw : public CliJack {
protected:
  TPeerKind PeerKind() const override { return TPeerKind::RawEvents; }
  using Events = std::vector<Bytes>;
  TCliResult Send(std::vector<std::string> args) {
    args.insert(args.begin(), {"--midi=jack", "send", "--out", Dst});
    return RunCli(args, FFolder.Path());
  }
};

// Bytes that form no message are refused before anything goes out, at their
// place; with --raw the rest goes out and what could not is reported.
TEST_F(CliJackRaw, BytesThatFormNoMessageAreRefusedWhereTheyAreUnlessRaw) {
  const std::string file = FFolder.Path("notes.txt");
  WriteWholeFile(file, "F0 7D 01 F7\n90 3C 40 3E C0 05\n");
  // Hex text in a file whose name does not say so is taken as raw bytes: letters.
  const std::string hexAsBytes = FFolder.Path("dump.hex");
  WriteWholeFile(hexAsBytes, "F0 01 02 F7\n");
  const struct {
    std::vector<std::string> Args;
    std::string Place;
  } cases[] = {
      {{"--hex", "F0 7D 01 F7", "--hex", "  01 02 03"}, "--hex:1:3"},
      {{file}, file + ":2:10"},
      {{"--hex", "F7"}, "--hex:1:1"},
      {{"--hex", "F0 7D 01 F7", "--hex", "F0 01 02 03"}, "--hex:1:1"},
      {{"--hex", "80 3C"}, "--hex:1:1"},
      {{"--hex", "F0 01", "--hex", "02 03 90 3C 40"}, "--hex:1:1"},
      {{hexAsBytes}, hexAsBytes + ":1:1"},
  };
  for (const auto& c : cases) {
    const TCliResult result = Send(c.Args);
    EXPECT_EQ(StatusBesideXruns(result, 1), 1) << c.Place;
    EXPECT_EQ(result.Err, "pelrow-cli: " + c.Place +
                              ": bytes that form no MIDI message (data without a status byte, a "
                              "lone F7 or a message cut short); use --raw to send them as they "
                              "are\n");
  }
  EXPECT_EQ(PeerCount("dst"), 0u);

  const TCliResult result = Send({"--raw", "--speed", "1000", file});
  EXPECT_EQ(StatusBesideXruns(result, 3), 3);
  EXPECT_EQ(WithoutXrunWarnings(result.Err),
            "pelrow-cli: Sent 9 bytes; bytes that form no MIDI message were not sent "
            "(1, the first on line 2): this output carries whole messages only\n");
  EXPECT_EQ(FPeer->ReceiveEvents("dst", 9, WaitMs),
            (Events{{0xF0, 0x7D, 0x01, 0xF7}, {0x90, 0x3C, 0x40}, {0xC0, 0x05}}));
}

// The program is stopped for longer than a second while it sends a SysEx spread
// over many lines at the slowest pace.
TEST_F(CliJackRaw, ASysExArrivesWholeThoughTheProgramStallsInTheMiddle) {
  const Bytes sysEx = SysEx(1024, 7);
  std::string text;
  for (size_t at = 0; at < sysEx.size(); at += 128) {
    for (size_t i = at; i < std::min(sysEx.size(), at + 128); ++i)
      text += (i > at ? " " : "") + HexByte(sysEx[i]);
    text += "\n";
  }
  const std::string file = FFolder.Path("slow.txt");
  WriteWholeFile(file, text);
  TCliProcess process({"--midi=jack", "send", "--out", Dst, "--speed", "-1000", file},
                      FFolder.Path());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  process.Signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  process.Signal(SIGCONT);
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(FPeer->ReceiveEvents("dst", sysEx.size(), WaitMs), Events{sysEx});
}

TEST_F(CliJackRaw, WithRawAnUnfinishedMessageAtTheEndGoesOutAsItWasSent) {
  TCliResult result = Send({"--raw", "--hex", "F0 7D 01 02 03"});
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(FPeer->ReceiveEvents("dst", 5, WaitMs), (Events{{0xF0, 0x7D, 0x01, 0x02, 0x03}}));
  result = Send({"--raw", "--hex", "90 3C 40 3E"});
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(FPeer->ReceiveEvents("dst", 5, WaitMs), (Events{{0x90, 0x3C, 0x40}, {0x90, 0x3E}}));
}

// Interruptions are no certain loss: a warning, and the exit status stays 0.
TEST_F(CliJackRaw, InterruptionsOfTheServerDuringASendAreAWarning) {
  const Bytes dump = SysExBurst(4, 1000);
  const std::string file = Write("dump.syx", dump);
  TCliProcess process({"--midi=jack", "send", "--out", Dst, "--speed", "0", file}, FFolder.Path());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(FPeer->Ok("stall dst 100"));
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_TRUE(result.Err.starts_with("pelrow-cli: warning: The JACK server reported "))
      << result.Err;
  EXPECT_TRUE(
      result.Err.ends_with(" interruptions during the send; the receiver may have missed data\n"))
      << result.Err;
  EXPECT_EQ(Difference(FPeer->Receive("dst", dump.size(), WaitMs), dump), "");
}

// The input listens before it is connected: a dump sent the moment the connection
// is made arrives whole. What came before it, the end of a message begun earlier,
// is no message and is not kept.
TEST_F(CliJackRaw, ReceiveKeepsWhatASourceSendsAtOnceButNoCutEnd) {
  const std::string file = FFolder.Path("dump.syx");
  const int before = JackConnections(Src);
  TCliProcess process({"--midi=jack", "receive", "--in", Src, "--quiet", "500", "-o", file},
                      FFolder.Path());
  ASSERT_TRUE(WaitForMoreJackConnections(Src, before, ConnectWaitMs));
  ASSERT_TRUE(FPeer->Ok("send src 01 02 03 F7"));
  const Bytes dump = SysExBurst(256, 1024);
  ASSERT_TRUE(FPeer->SendBytes("src", dump));
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(WithoutXrunWarnings(result.Err),
            "pelrow-cli: the first message was cut: it began before the input listened, and its "
            "last 4 bytes were not kept\n");
  EXPECT_EQ(DifferenceBesideCuts(BytesOf(ReadWholeFile(file)), dump, Interrupted(result)), "");
}

// A reply ends when the input is quiet, however long it takes; the user's limits
// (a total time, a count of messages) end it too, and a reply they cut or that
// falls short of them is an error with what arrived kept. What comes after the
// count is neither kept nor lost.
TEST_F(CliJackRaw, ARequestEndsOnQuietAndItsLimitsSayWhatTheyCut) {
  const struct {
    std::string Name;
    std::vector<std::string> Options;
    std::vector<std::string> Pieces; // sent 300 ms apart once the request came
    int Status;
    std::string Kept;
    std::string Err;
  } cases[] = {
      {"a slow reply outlasts the wait for its start",
       {"--idle", "1"},
       {"F0 01 F7", "F0 02 F7", "F0 03 F7", "F0 04 F7", "F0 05 F7"},
       0,
       "F0 01 F7 F0 02 F7 F0 03 F7 F0 04 F7 F0 05 F7",
       ""},
      {"a time limit that cuts the reply",
       {"--timeout", "700"},
       {"F0 43 00 01", "", "", ""},
       3,
       "F0 43 00 01",
       "pelrow-cli: the time limit of 700 ms cut the last message: its end never came\n"},
      {"fewer messages than counted",
       {"--count", "3"},
       {"F0 01 F7", "F0 02 F7"},
       3,
       "F0 01 F7 F0 02 F7",
       "pelrow-cli: only 2 of 3 messages arrived\n"},
      {"more messages than counted",
       {"--count", "2"},
       {"F0 01 F7 F0 02 F7 F0 03 F7 F0 04 F7"},
       0,
       "F0 01 F7 F0 02 F7",
       ""},
  };
  const Bytes request = {0xF0, 0x43, 0x20, 0x7F, 0x1C, 0x00, 0xF7};
  for (const auto& c : cases) {
    const std::string file = FFolder.Path("reply.syx");
    std::remove(file.c_str());
    std::vector<std::string> args = {"--midi=jack", "request", "--out", Dst,
                                     "--in",        Src,       "--hex", "F0 43 20 7F 1C 00 F7",
                                     "--quiet",     "800",     "-o",    file};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    TCliProcess process(args, FFolder.Path());
    EXPECT_EQ(FPeer->ReceiveEvents("dst", request.size(), WaitMs), Events{request}) << c.Name;
    for (const std::string& piece : c.Pieces) {
      EXPECT_TRUE(piece.empty() || FPeer->Ok("send src " + piece)) << c.Name;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const TCliResult result = process.Wait();
    EXPECT_EQ(StatusBesideXruns(result, c.Status), c.Status) << c.Name << ": " << result.Err;
    EXPECT_EQ(WithoutXrunWarnings(result.Err), c.Err) << c.Name;
    std::string kept;
    for (const uint8_t byte : BytesOf(ReadWholeFile(file)))
      kept += (kept.empty() ? "" : " ") + HexByte(byte);
    EXPECT_EQ(kept, c.Kept) << c.Name;
  }
}

// --count asks for that many messages: fewer, none included, is a failure.
TEST_F(CliJackRaw, ReceiveSaysHowManyOfTheCountArrived) {
  const struct {
    std::string Sent;
    std::string Out;
    std::string Err;
  } cases[] = {
      {"", "", "pelrow-cli: only 0 of 2 messages arrived\n"},
      {"F0 01 F7", "F0 01 F7\n", "pelrow-cli: only 1 of 2 messages arrived\n"},
  };
  for (const auto& c : cases) {
    auto process =
        StartListening({"--midi=jack", "receive", "--in", Src, "--count", "2", "--timeout", "700"});
    EXPECT_TRUE(c.Sent.empty() || FPeer->Ok("send src " + c.Sent)) << c.Sent;
    const TCliResult result = process->Wait();
    EXPECT_EQ(StatusBesideXruns(result, 3), 3) << c.Sent;
    EXPECT_EQ(WithoutXrunWarnings(result.Out), c.Out) << c.Sent;
    EXPECT_EQ(WithoutXrunWarnings(result.Err), c.Err) << c.Sent;
  }
}

// A signal ends a capture as Ctrl-C does: what arrived is saved whole, and the
// status says which signal it was. A closed terminal's hangup comes twice (from
// the kernel and again from the shell), and standard error is that terminal, gone.
TEST_F(CliJackRaw, ASignalSavesWhatArrivedAndEndsAsTheSignalSays) {
  const std::vector<std::vector<std::string>> commands = {
      {"receive", "--in", Src},
      {"request", "--out", Dst, "--in", Src, "--hex", "F0 7E 7F 06 01 F7", "--quiet", "60000"},
  };
  const Bytes arrived = {0xF0, 0x7D, 0x01, 0xF7, 0x90, 0x3C, 0x40};
  for (const auto& command : commands) {
    for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
      const std::string what = command.front() + " " + ::strsignal(signal);
      const std::string file = FFolder.Path("capture.syx");
      std::remove(file.c_str());
      std::vector<std::string> args = {"--midi=jack"};
      args.insert(args.end(), command.begin(), command.end());
      args.insert(args.end(), {"-o", file});
      TCliStart start;
      int terminal = -1;
      if (signal == SIGHUP) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(::grantpt(terminal) | ::unlockpt(terminal), 0);
        start.ErrorFd = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
        ASSERT_GE(start.ErrorFd, 0);
      }
      auto process = StartListening(args, start);
      if (start.ErrorFd >= 0)
        ::close(start.ErrorFd);
      if (command.front() == "request")
        FPeer->ReceiveEvents("dst", 6, WaitMs);
      ASSERT_TRUE(FPeer->Ok("send src F0 7D 01 F7 90 3C 40")) << what;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (terminal >= 0)
        ::close(terminal); // writes to standard error fail from now on
      process->Signal(signal);
      if (signal == SIGHUP)
        process->Signal(signal);
      const TCliResult result = process->Wait(WaitMs);
      EXPECT_EQ(StatusBesideXruns(result, 128 + signal), 128 + signal) << what << ": " << result.Err;
      EXPECT_EQ(WithoutXrunWarnings(result.Err), "") << what;
      EXPECT_EQ(BytesOf(ReadWholeFile(file)), arrived) << what;
    }
  }
}

// A source that goes away in the middle of a dump ends the capture at once, with
// what arrived kept and the cut said, whatever ends the capture otherwise.
TEST_F(CliJackRaw, ASourceThatGoesAwayMidDumpEndsTheCaptureWithAFailure) {
  const std::vector<std::vector<std::string>> commands = {
      {"receive", "--in", Src},
      {"receive", "--in", Src, "--quiet", "60000"},
      {"request", "--out", Dst, "--in", Src, "--hex", "F0 7E 7F 06 01 F7"},
  };
  for (const auto& command : commands) {
    const std::string joined = ::testing::PrintToString(command);
    if (&command != &commands.front()) { // the last round closed it
      ASSERT_TRUE(FPeer->Ok("open_out src")) << joined;
      ASSERT_GE(WaitForInput(Src), 0);
    }
    const std::string file = FFolder.Path("cut.syx");
    std::vector<std::string> args = {"--midi=jack"};
    args.insert(args.end(), command.begin(), command.end());
    args.insert(args.end(), {"-o", file});
    auto process = StartListening(args);
    ASSERT_TRUE(FPeer->Ok("send src F0 7D 01 F7 F0 7D 02 03"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(FPeer->Ok("close src"));
    const TCliResult result = process->Wait(WaitMs);
    EXPECT_EQ(StatusBesideXruns(result, 3), 3) << joined;
    EXPECT_EQ(WithoutXrunWarnings(result.Err),
              "pelrow-cli: the input \"" + Src +
                  "\" lost its source (it went away or was disconnected)\n"
                  "pelrow-cli: the last message is cut: its end never came\n")
        << joined;
    EXPECT_EQ(BytesOf(ReadWholeFile(file)), (Bytes{0xF0, 0x7D, 0x01, 0xF7, 0xF0, 0x7D, 0x02, 0x03}))
        << joined;
  }
}

// Ctrl-C during a send: the output passes on what it took, and that is what the
// command reports.
TEST_F(CliJack, CtrlCDuringASendReportsWhatTheOutputTook) {
  const Bytes dump = SysExBurst(40, 500);
  const std::string file = Write("dump.syx", dump);
  TCliProcess process({"--midi=jack", "send", "--out", Dst, file}, FFolder.Path());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  process.Signal(SIGINT);
  const TCliResult result = process.Wait();
  EXPECT_EQ(StatusBesideXruns(result, 3), 3);
  unsigned long long took = 0, total = 0;
  ASSERT_EQ(std::sscanf(WithoutXrunWarnings(result.Err).c_str(),
                        "pelrow-cli: Sending cancelled (the output took %llu of %llu bytes)", &took,
                        &total),
            2)
      << result.Err;
  EXPECT_EQ(total, dump.size());
  EXPECT_GT(took, 0u);
  EXPECT_LT(took, dump.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(PeerCount("dst"), took);
}

// Ports by the names users know: a unique part of the name, not one that two
// ports share; the client under a name of the user's; "--midi jack" as
// "--midi=jack". A JACK asked for without a server is said, and the loopback is
// still listed.
TEST_F(CliJackRaw, PortsAreFoundByTheNamesUsersKnow) {
  ASSERT_TRUE(FPeer->Ok("open_in dst2"));
  ASSERT_GE(WaitForOutput(TPeerProcess::PortName("dst2")), 0);
  TCliResult result =
      RunCli({"--midi", "jack", "send", "--out", "PEER-dst2", "--hex", "C0 05"}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(FPeer->Receive("dst2", 2, WaitMs), (Bytes{0xC0, 0x05}));
  result =
      RunCli({"--midi", "jack", "send", "--out", "peer-dst", "--hex", "C0 05"}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 2), 2);
  EXPECT_EQ(result.Err, "pelrow-cli: the MIDI output \"peer-dst\" is ambiguous: it matches \"" +
                            Dst + "\", \"" + TPeerProcess::PortName("dst2") + "\"\n");

  auto process = StartListening({"--midi", "jack", "--name", "nightly-backup", "receive", "--in",
                                 "PEER-SRC:SRC", "--idle", "2"});
  const std::string ours = FPeer->Command("ports nightly-backup");
  EXPECT_EQ(ours.rfind("ok nightly-backup:", 0), 0u) << ours;
  result = process->Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_EQ(WithoutXrunWarnings(result.Err), "pelrow-cli: nothing was received within 2 s\n");

  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  const std::string kept = server != nullptr ? server : "";
  ::setenv("JACK_DEFAULT_SERVER", "pelrow-no-such-server", 1);
  result = RunCli({"--midi", "jack", "list"}, FFolder.Path());
  if (server != nullptr)
    ::setenv("JACK_DEFAULT_SERVER", kept.c_str(), 1);
  else
    ::unsetenv("JACK_DEFAULT_SERVER");
  EXPECT_EQ(StatusBesideXruns(result, 3), 3);
  EXPECT_TRUE(result.Err.starts_with("pelrow-cli: Cannot use JACK: ")) << result.Err;
  EXPECT_EQ(result.Out, "in\tPelrow Loopback\nout\tPelrow Loopback\n");
}

// With --timestamps each message has a comment line with its time before it; the
// lines still send as they are.
TEST_F(CliJack, TimestampsAreCommentLinesThatStillSend) {
  auto process =
      StartListening({"--midi=jack", "receive", "--in", Src, "--timestamps", "--count", "2"});
  ASSERT_TRUE(FPeer->SendBytes("src", {0xF0, 0x7E, 0x00, 0xF7, 0x90, 0x3C, 0x40}));
  const TCliResult result = process->Wait();
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  const std::string lines = WithoutXrunWarnings(result.Out);
  unsigned first = 0, firstMs = 0, second = 0, secondMs = 0;
  ASSERT_EQ(std::sscanf(lines.c_str(), "; %u.%u s\nF0 7E 00 F7\n; %u.%u s\n90 3C 40\n", &first,
                        &firstMs, &second, &secondMs),
            4)
      << lines;
  EXPECT_LE(first * 1000 + firstMs, second * 1000 + secondMs);
  const TCliResult sent = RunCli({"--midi=jack", "send", "--out", Dst, "-"}, FFolder.Path(), lines);
  EXPECT_EQ(sent.Status, 0) << sent.Err;
  EXPECT_EQ(
      Difference(FPeer->Receive("dst", 7, WaitMs), {0xF0, 0x7E, 0x00, 0xF7, 0x90, 0x3C, 0x40}), "");
}

TEST_F(CliJack, ListsThePeersPortsByTheirExactNames) {
  TCliResult result = RunCli({"--midi=jack", "list"}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_NE(result.Out.find("in\t" + Src + "\n"), std::string::npos) << result.Out;
  EXPECT_NE(result.Out.find("out\t" + Dst + "\n"), std::string::npos) << result.Out;
  EXPECT_NE(result.Out.find("in\tPelrow Loopback\n"), std::string::npos) << result.Out;

  result = RunCli({"--midi=jack", "list", "--json"}, FFolder.Path());
  EXPECT_EQ(StatusBesideXruns(result, 0), 0) << result.Err;
  EXPECT_NE(result.Out.find("{\"direction\": \"out\", \"name\": \"" + Dst + "\"}"),
            std::string::npos)
      << result.Out;
}

// A server that does not wait for late clients reports xruns while a dump comes
// in: the user is warned that input may be missing, and the exit status says that
// the capture may be incomplete, but nothing is reported lost. On a busy machine the server may
// drop some of the peer's own output, which no client can see: that is what the warning is for.
TEST(CliJackAsync, XrunsWithoutLossAreAWarningNotALoss) {
  TJackServerProcess server("pelrow-async-" + std::to_string(getpid()), false);
  ASSERT_TRUE(server.Start());
  TScratchFolder folder;
  TPeerProcess peer(TPeerKind::RawEvents);
  ASSERT_TRUE(peer.Ok("open_out src"));
  ASSERT_TRUE(peer.Ok("open_slow hog 8"));
  const std::string src = TPeerProcess::PortName("src"), file = folder.Path("dump.syx");
  TCliProcess process({"--midi=jack", "receive", "--in", src, "--quiet", "1000", "-o", file},
                      folder.Path());
  ASSERT_TRUE(WaitForMoreJackConnections(src, 0, ConnectWaitMs));
  std::this_thread::sleep_for(ListeningMargin);
  const Bytes dump = TaggedBurst(0, 200, 3000);
  ASSERT_TRUE(peer.SendBytes("src", dump));
  const TCliResult result = process.Wait();
  EXPECT_EQ(result.Status, 4) << result.Err;
  EXPECT_EQ(result.Err, XrunWarning);
  const std::string difference = Difference(BytesOf(ReadWholeFile(file)), dump);
  if (!difference.empty())
    std::printf("the server dropped input before it reached us (%s); the warning told of it\n",
                difference.c_str());
}

} // namespace
} // namespace pelrow::testing
