// pelrow-cli end to end with a real USB MIDI device: the guest of scripts/alsa-vm
// has a USB gadget that the kernel's USB audio driver takes for a synthesizer
// ("Test Synth"); the gadget's own raw device (card "f_midi") is where the test
// plays that synthesizer, reading what it is sent and writing its dumps, as fast
// as USB carries them or at a MIDI cable's pace. Rates are printed beside those of
// the system's amidi on the same device.
#include "alsa_fixture.h"
#include "cli_process.h"
#include "support/scratch_folder.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* SynthPort = "Test Synth:Test Synth MIDI 1";
constexpr const char* SynthCard = "Test Synth";
constexpr const char* GadgetCard = "f_midi";
constexpr int LongWaitMs = 180000;
// Ample for a reader to go from opening the device to reading it, in the guest.
constexpr int ReaderStartMs = 500;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits until a program holds the synthesizer's raw input open (the kernel lists
// its owner) and has had a moment to start reading: the USB driver drops what
// arrives between the open and the first read, so a synthesizer that starts
// right away would lose its first bytes on any system. False after timeoutMs.
bool WaitForRawReader(int timeoutMs) {
  const std::string path = "/proc/asound/card" + std::to_string(CardNamed(SynthCard)) + "/midi0";
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < limit) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const std::string info = text.str();
    const size_t input = info.find("Input 0");
    if (input != std::string::npos && info.find("Owner PID", input) != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ReaderStartMs));
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// What the kernel counts as dropped by the synthesizer's input for want of room
// (while somebody holds it open); -1 when it does not list it.
int64_t SynthOverruns() {
  std::ifstream info("/proc/asound/card" + std::to_string(CardNamed(SynthCard)) + "/midi0");
  std::string line;
  bool input = false;
  while (std::getline(info, line)) {
    if (!line.empty() && line[0] != ' ')
      input = line == "Input 0";
    else if (input && line.find("Overruns") != std::string::npos)
      return std::stoll(line.substr(line.find(':') + 1));
  }
  return -1;
}

// The sum of the counts that follow each `lead` in text.
uint64_t CountsAfter(const std::string& text, const std::string& lead) {
  uint64_t sum = 0;
  for (size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1))
    sum += std::stoull(text.substr(at + lead.size()));
  return sum;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

// Waits until `count` sequencer clients read from the synthesizer's port; false
// after timeoutMs.
bool WaitForSequencerReaders(int count, int timeoutMs) {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
    return false;
  snd_seq_addr_t synth;
  snd_seq_query_subscribe_t* query;
  snd_seq_query_subscribe_alloca(&query);
  bool found = false;
  if (snd_seq_parse_address(seq, &synth, SynthPort) == 0) {
    snd_seq_query_subscribe_set_root(query, &synth);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
    snd_seq_query_subscribe_set_index(query, 0);
    const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(found = snd_seq_query_port_subscribers(seq, query) == 0 &&
                     snd_seq_query_subscribe_get_num_subs(query) >= count) &&
           Clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  snd_seq_close(seq);
  return found;
}

// Another program on the synthesizer's port, both ways: the kernel's sequencer
// driver then holds its raw device, and ours must go through the sequencer.
class TSequencerUser {
public:
  TSequencerUser() {
    if (snd_seq_open(&FSeq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
      FSeq = nullptr;
      return;
    }
    snd_seq_addr_t synth;
    const int port =
        snd_seq_create_simple_port(FSeq, "user", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE,
                                   SND_SEQ_PORT_TYPE_APPLICATION);
    FReady = port >= 0 && snd_seq_parse_address(FSeq, &synth, SynthPort) == 0 &&
             snd_seq_connect_to(FSeq, port, synth.client, synth.port) == 0 &&
             snd_seq_connect_from(FSeq, port, synth.client, synth.port) == 0;
  }
  ~TSequencerUser() {
    if (FSeq)
      snd_seq_close(FSeq);
  }
  bool Ready() const { return FReady; }

private:
  snd_seq_t* FSeq = nullptr;
  bool FReady = false;
};

struct TUsbCase {
  const char* What;
  Bytes Data;
  int Speed;          // pelrow-cli's --speed on a send; 0 is a cable's pace both ways
  bool Taken = false; // another program holds the raw device
  // The synthesizer's burst overruns the card's input.
  bool Overruns = false;
};

class CliAlsaUsb : public AlsaTest {
protected:
  void SetUp() override {
    AlsaTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    FSynth = std::make_unique<TRawMidi>(GadgetCard, 0);
    ASSERT_TRUE(FSynth->Ready()) << "no USB MIDI gadget (card " << GadgetCard << ")";
    ASSERT_GE(WaitForOutput(SynthPort), 0);
  }
  std::string Write(const Bytes& bytes) {
    const std::string path = FFolder.Path("data.syx");
    WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }
  static std::vector<TUsbCase> Cases() {
    const Bytes shorts = {0x90, 0x3C, 0x40, 0xB0, 0x07, 0x64, 0xC0,
                          0x05, 0xE0, 0x00, 0x40, 0x80, 0x3C, 0x00};
    return {
        {"short messages", shorts, 1000},
        {"a 20 KB SysEx", SysEx(20 * 1024, 3), 1000},
        {"a dump of 200 x 1 KB", TaggedBurst(0, 200, 1024), 1000},
        {"a 1 MB SysEx", SysEx(1 << 20, 5), 1000},
        {"short messages", shorts, 0},
        {"a 20 KB SysEx", SysEx(20 * 1024, 3), 0},
        {"a 20 KB SysEx, the raw device taken", SysEx(20 * 1024, 4), 1000, true},
    };
  }

  std::unique_ptr<TRawMidi> FSynth;
  TScratchFolder FFolder;
};

TEST_F(CliAlsaUsb, WhatIsSentArrivesAtTheSynthesizerByteForByte) {
  std::vector<TUsbCase> cases = Cases();
  // A cable's pace on a whole dump: a minute, the longest case of the run.
  cases.push_back({"a dump of 200 x 1 KB", TaggedBurst(0, 200, 1024), 0});
  for (const TUsbCase& one : cases) {
    std::unique_ptr<TSequencerUser> user;
    if (one.Taken) {
      user = std::make_unique<TSequencerUser>();
      ASSERT_TRUE(user->Ready()) << one.What;
    }
    const std::string file = Write(one.Data);
    Bytes cable;
    std::thread reader([&] { cable = FSynth->Read(one.Data.size(), LongWaitMs); });
    const auto start = Clock::now();
    TCliProcess process(
        {"--midi=alsa", "send", "--out", SynthPort, "--speed", std::to_string(one.Speed), file},
        FFolder.Path());
    const TCliResult result = process.Wait(LongWaitMs);
    const double seconds = SecondsSince(start);
    reader.join();
    EXPECT_EQ(result.Status, 0) << one.What << ": " << result.Err;
    EXPECT_EQ(Difference(cable, one.Data), "") << one.What << " at speed " << one.Speed;
    std::printf("send %s at speed %d: %zu of %zu bytes, %.0f bytes/s\n", one.What, one.Speed,
                cable.size(), one.Data.size(), double(one.Data.size()) / seconds);
  }
}

// Through the sequencer (the raw device taken) the card's input may overrun before
// the sequencer reads it: the kernel's count of what it dropped rises, and that
// is told as a certain loss of exactly as many bytes, with a mark at its place,
// and fails the receive (the rest of a System Exclusive message cut there is lost
// with it).
TEST_F(CliAlsaUsb, WhatTheSynthesizerSendsArrivesByteForByte) {
  std::vector<TUsbCase> cases = Cases();
  Bytes notes;
  for (int i = 0; i < 70000; ++i)
    notes.insert(notes.end(), {0x90, uint8_t(i % 128), uint8_t(i * 7 % 128)});
  cases.push_back({"a burst of 70000 notes, the raw device taken", notes, 1000, true, true});
  const std::string overran = "the device's input overran: ";
  for (const TUsbCase& one : cases) {
    std::unique_ptr<TSequencerUser> user;
    if (one.Taken) {
      user = std::make_unique<TSequencerUser>();
      ASSERT_TRUE(user->Ready()) << one.What;
    }
    const std::string out = FFolder.Path(one.Taken ? "got.txt" : "got.syx");
    TCliProcess process({"--midi=alsa", "receive", "--in", SynthPort, "-o", out, "--quiet", "2000"},
                        FFolder.Path());
    ASSERT_TRUE(one.Taken ? WaitForSequencerReaders(2, WaitMs) : WaitForRawReader(WaitMs))
        << one.What;
    const int64_t overrunsBefore = SynthOverruns();
    const auto start = Clock::now();
    ASSERT_TRUE(one.Speed == 0 ? FSynth->WriteAtCablePace(one.Data) : FSynth->Write(one.Data))
        << one.What;
    const double seconds = SecondsSince(start);
    const TCliResult result = process.Wait(LongWaitMs);
    const std::string text = ReadWholeFile(out);
    const Bytes got =
        one.Taken ? ReadMarkedLines(TextLines(text)).Bytes : Bytes(text.begin(), text.end());
    const std::string missing = Difference(got, one.Data);
    if (one.Taken) {
      const int64_t dropped = SynthOverruns() - overrunsBefore;
      const uint64_t told = CountsAfter(result.Err, overran);
      EXPECT_TRUE(!one.Overruns || dropped > 0) << one.What << ": the card's input kept up";
      if (dropped > 0) {
        EXPECT_EQ(result.Status, 3) << one.What << ": " << result.Err;
        EXPECT_EQ(CountsAfter(text, "; !! input lost here: " + overran), told) << one.What;
        const bool sysEx = std::count(one.Data.begin(), one.Data.end(), 0xF0) > 0;
        EXPECT_TRUE(sysEx ? told >= uint64_t(dropped) : told == uint64_t(dropped))
            << one.What << ": " << dropped << " bytes dropped; " << result.Err;
      } else {
        EXPECT_EQ(told, 0u) << one.What << ": " << result.Err;
      }
      // Nothing goes missing without a certain loss told.
      EXPECT_EQ(result.Status, missing.empty() && dropped <= 0 ? 0 : 3)
          << one.What << ": " << missing << "; " << result.Err;
      std::printf("receive %s: the card's input dropped %lld bytes\n", one.What,
                  static_cast<long long>(dropped));
    } else {
      EXPECT_EQ(result.Status, 0) << one.What << ": " << result.Err;
      EXPECT_EQ(missing, "") << one.What
                             << (one.Speed == 0 ? " at a cable's pace" : " at full speed");
    }
    std::printf("receive %s (%s): %zu of %zu bytes, written at %.0f bytes/s\n", one.What,
                one.Speed == 0 ? "cable pace" : "full speed", got.size(), one.Data.size(),
                double(one.Data.size()) / seconds);
  }
}

// The system's own tool on the same device in the same run, the yardstick of the
// figures above: amidi writes a megabyte to the synthesizer's raw device, and
// reads one that the synthesizer writes as fast as USB takes it.
TEST_F(CliAlsaUsb, AmidiOnTheSameDeviceForComparison) {
  if (std::system("command -v amidi >/dev/null") != 0)
    GTEST_SKIP() << "no amidi (alsa-utils)";
  const Bytes data = SysEx(1 << 20, 5);
  const std::string file = Write(data);
  const std::string device = "hw:" + std::to_string(CardNamed(SynthCard)) + ",0,0";
  Bytes cable;
  std::thread reader([&] { cable = FSynth->Read(data.size(), LongWaitMs); });
  auto start = Clock::now();
  EXPECT_EQ(std::system(("amidi -p " + device + " -s " + file).c_str()), 0);
  const double sendSeconds = SecondsSince(start);
  reader.join();
  std::printf("amidi send: %zu of %zu bytes, %.0f bytes/s; %s\n", cable.size(), data.size(),
              double(data.size()) / sendSeconds, Difference(cable, data).c_str());

  const std::string out = FFolder.Path("amidi.syx");
  std::thread amidi([&] { std::system(("amidi -p " + device + " -t 2 -r " + out).c_str()); });
  ASSERT_TRUE(WaitForRawReader(WaitMs));
  start = Clock::now();
  EXPECT_TRUE(FSynth->Write(data));
  const double receiveSeconds = SecondsSince(start);
  amidi.join();
  const std::string got = ReadWholeFile(out);
  std::printf("amidi receive: %zu of %zu bytes, written at %.0f bytes/s; %s\n", got.size(),
              data.size(), double(data.size()) / receiveSeconds,
              Difference(Bytes(got.begin(), got.end()), data).c_str());
}

} // namespace
} // namespace pelrow::testing
