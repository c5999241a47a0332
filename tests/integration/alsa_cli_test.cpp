// pelrow-cli end to end over the ALSA sequencer: the built program as a separate
// process against virtual raw MIDI ports, the raw devices standing in for the cable.
#include "alsa_fixture.h"
#include "cli_process.h"
#include "support/scratch_folder.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>

#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// After the program's input shows up subscribed, it still has to start listening.
constexpr auto ListeningMargin = std::chrono::milliseconds(300);

// The tagged messages that arrived whole, by number, and what else was found.
std::vector<uint32_t> WholeTagged(const Bytes& bytes, std::string& problem) {
  std::vector<uint32_t> numbers;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = size_t(std::find(bytes.begin() + long(at), bytes.end(), 0xF7) - bytes.begin());
    const size_t next =
        size_t(std::find(bytes.begin() + long(at) + 1, bytes.end(), 0xF0) - bytes.begin());
    if (bytes[at] == 0xF0 && end < next && end - at >= 6) {
      const uint32_t number = uint32_t(bytes[at + 2]) << 14 | uint32_t(bytes[at + 3]) << 7 |
                              bytes[at + 4];
      if (TaggedSysEx(number, end - at + 1) == Bytes(bytes.begin() + long(at), bytes.begin() + long(end) + 1))
        numbers.push_back(number);
      else if (problem.empty())
        problem = "a damaged message at byte " + std::to_string(at);
    }
    at = next;
  }
  return numbers;
}

class CliAlsa : public AlsaTest {
protected:
  void SetUp() override {
    AlsaTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    FRaw = std::make_unique<TRawMidi>(2);
    ASSERT_TRUE(FRaw->Ready());
  }
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = FFolder.Path(name);
    WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }
  std::unique_ptr<TCliProcess> StartReceiving(const std::vector<std::string>& options) {
    std::vector<std::string> args{"--midi=alsa", "receive", "--in", FRaw->PortName()};
    args.insert(args.end(), options.begin(), options.end());
    auto process = std::make_unique<TCliProcess>(args, FFolder.Path());
    EXPECT_TRUE(FRaw->WaitForReader(WaitMs));
    std::this_thread::sleep_for(ListeningMargin);
    return process;
  }

  std::unique_ptr<TRawMidi> FRaw;
  TScratchFolder FFolder;
};

TEST_F(CliAlsa, SendsAMegabyteAtFullSpeedByteForByte) {
  const Bytes dump = MixedDump(1 << 20);
  const std::string file = Write("dump.syx", dump);
  Bytes cable;
  std::thread reader([&] { cable = FRaw->Read(dump.size(), BurstWaitMs); });
  const TCliResult result = RunCli(
      {"--midi=alsa", "send", "--out", FRaw->PortName(), "--speed", "1000", file}, FFolder.Path());
  reader.join();
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(Difference(cable, dump), "");
}

// At speed 0 the pace is the MIDI cable's, 3125 bytes a second, measured where the
// bytes come out, from the first read to the last. The bound is loose, for an
// emulated machine that others share; the rate itself is printed.
TEST_F(CliAlsa, PacesAtTheCableRateAtSpeedZero) {
  const Bytes dump = SysExBurst(64, 100);
  const std::string file = Write("slow.syx", dump);
  TCliProcess process({"--midi=alsa", "send", "--out", FRaw->PortName(), "--speed", "0", file},
                      FFolder.Path());
  const Bytes cable = FRaw->Read(dump.size(), 30000);
  const TCliResult result = process.Wait();
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Difference(cable, dump), "");
  const double seconds =
      std::chrono::duration<double>(FRaw->LastArrival() - FRaw->FirstArrival()).count();
  ASSERT_GT(seconds, 0.0);
  const double rate = double(dump.size() - FRaw->FirstReadBytes()) / seconds;
  std::printf("speed 0 at the raw device: %.1f bytes/s (%+.2f%%)\n", rate,
              (rate / 3125.0 - 1) * 100);
  RecordProperty("BytesPerSecond", std::to_string(rate));
  EXPECT_NEAR(rate, 3125.0, 3125.0 * 0.1);
}

TEST_F(CliAlsa, ReceivesADumpFromTheCableIntoTheExactSyx) {
  const Bytes dump = MixedDump(1 << 20);
  const std::string out = FFolder.Path("got.syx");
  auto process = StartReceiving({"-o", out, "--quiet", "2000"});
  ASSERT_TRUE(FRaw->Write(dump));
  const TCliResult result = process->Wait(120000);
  EXPECT_EQ(result.Status, 0) << result.Err;
  const std::string got = ReadWholeFile(out);
  EXPECT_EQ(Difference(Bytes(got.begin(), got.end()), dump), "");
}

// The whole program stops (a machine under load) while a dump comes in: the
// sequencer queues what fits for it and drops the rest, and the cable's writer is
// held up; the loss is reported, every message kept is whole, and what comes after
// the gap arrives.
TEST_F(CliAlsa, AReceiverThatStallsReportsTheLossAndKeepsWholeMessages) {
  const std::string out = FFolder.Path("got.syx");
  auto process = StartReceiving({"-o", out, "--quiet", "2000"});
  ASSERT_TRUE(FRaw->Write(TaggedBurst(0, 10, 1000)));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  process->Signal(SIGSTOP);
  const size_t stalled = FRaw->WriteFor(TaggedBurst(10, 400, 1000), 3000);
  EXPECT_GT(stalled, size_t(64 * 1024)) << "more than the sequencer holds for a reader";
  process->Signal(SIGCONT);
  ASSERT_TRUE(FRaw->Write(TaggedBurst(410, 10, 1000)));
  const TCliResult result = process->Wait(60000);
  EXPECT_EQ(result.Status, 3) << result.Err;
  EXPECT_NE(result.Err.find("input lost"), std::string::npos) << result.Err;
  const std::string got = ReadWholeFile(out);
  std::string problem;
  const std::vector<uint32_t> numbers = WholeTagged(Bytes(got.begin(), got.end()), problem);
  EXPECT_EQ(problem, "");
  ASSERT_GE(numbers.size(), 20u);
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  EXPECT_EQ(numbers.front(), 0u);
  EXPECT_EQ(numbers.back(), 419u) << "what came after the stall arrived";
  EXPECT_LT(numbers.size(), 420u) << "a loss was reported, so something is missing";
}

} // namespace
} // namespace pelrow::testing
