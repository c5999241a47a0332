// pelrow-cli receive over JACK while its reading is held up: a dump of tagged
// messages comes from the raw peer while the receiver is stopped, its own threads
// are held still while JACK's process callback goes on (the program's input ring
// runs full), libjack's process thread alone is held longer than the receiver's
// watch for a dropped client waits (it must not take itself for dropped), or a
// realtime CPU hog takes the CPU it shares with the server, or the server itself
// is frozen now and then. Every message saved is whole and right, or it is missing
// or cut with a mark at its place, never joined to another; a loss is told where it
// happened and how it was (certain: exit 3; possible, or a message cut by an
// interruption: exit 4), and no loss is told when nothing was lost.
#include "cli_process.h"
#include "jack_server_life_fixture.h"
#include "support/scratch_folder.h"

#include <sched.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

namespace pelrow::testing {
namespace {

using namespace std::chrono_literals;

constexpr char XrunWarning[] = "pelrow-cli: may be incomplete: the MIDI system was interrupted "
                               "while input came; input may be missing\n";
constexpr char CutWarning[] = "pelrow-cli: may be incomplete: messages cut short, each marked";
constexpr char LostPrefix[] = "pelrow-cli: input lost: ";
constexpr char LastMessageCut[] = "pelrow-cli: the last message is cut: its end never came\n";
constexpr char ClientDropped[] = "failed: The JACK server has dropped this program's client.\n";
constexpr int ConnectWaitMs = 10000;
constexpr size_t DumpMessages = 2000;
// A server that goes on may drop the whole dump while the receiver is stopped;
// nothing then comes that could end the capture but this.
constexpr int IdleSeconds = 30;
constexpr char NothingReceived[] = "pelrow-cli: nothing was received";

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

enum class THeld { OwnThreads, JacksProcessThread };

// Threads of a process held still with ptrace, as when the scheduler does not run
// them. Its own threads, not libjack's: JACK's process callback goes on filling the
// program's input ring. Or libjack's process thread alone: the server runs its
// cycles without ours while the rest of the program runs. libjack's threads are told
// apart by where they wait: the process thread on a futex in the server's shared
// memory, the notice thread on its socket; the program's own threads wait on private
// futexes only.
class THeldThreads {
public:
  THeldThreads(pid_t pid, THeld which) {
    std::set<pid_t> process, notice, seen;
    const auto limit = Clock::now() + 300ms;
    while (Clock::now() < limit) {
      for (const pid_t thread : Threads(pid)) {
        seen.insert(thread);
        std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread) +
                         "/syscall");
        std::string call, address, operation;
        in >> call >> address >> operation;
        if (call == "0" || call == "45") // read or recvfrom
          notice.insert(thread);
        else if (call == "202" && (std::stoul(operation, nullptr, 16) & 128) == 0)
          process.insert(thread);
      }
      std::this_thread::sleep_for(1ms);
    }
    for (const pid_t thread : seen) {
      const bool jacks = process.count(thread) > 0 || notice.count(thread) > 0;
      if ((which == THeld::OwnThreads ? jacks : process.count(thread) == 0) ||
          ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0)
        continue;
      FHeld.push_back(thread);
      int status = 0;
      if (ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) == 0)
        waitpid(thread, &status, __WALL);
    }
  }
  ~THeldThreads() {
    for (const pid_t thread : FHeld)
      ptrace(PTRACE_DETACH, thread, nullptr, nullptr);
  }
  size_t Count() const { return FHeld.size(); }

private:
  static std::vector<pid_t> Threads(pid_t pid) {
    std::vector<pid_t> threads;
    if (DIR* folder = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
      while (const dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.')
          threads.push_back(pid_t(std::stol(entry->d_name)));
      closedir(folder);
    }
    return threads;
  }
  std::vector<pid_t> FHeld;
};

// A busy loop at the highest realtime priority on CPU 0, in bursts of 300 ms with
// 200 ms rests. Its life is bounded by an alarm of its own, and the owner kills it.
class TRealtimeHog {
public:
  static constexpr unsigned LifeSeconds = 60;

  TRealtimeHog() {
    int answer[2];
    if (pipe(answer) != 0)
      return;
    FPid = fork();
    if (FPid == 0) {
      close(answer[0]);
      alarm(LifeSeconds);
      cpu_set_t cpus;
      CPU_ZERO(&cpus);
      CPU_SET(0, &cpus);
      sched_param priority{};
      priority.sched_priority = 99;
      const char ready = sched_setaffinity(0, sizeof cpus, &cpus) == 0 &&
                                 sched_setscheduler(0, SCHED_FIFO, &priority) == 0
                             ? 'y'
                             : 'n';
      if (write(answer[1], &ready, 1) != 1 || ready != 'y')
        _exit(1);
      for (;;) {
        timespec start{}, now{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        do
          clock_gettime(CLOCK_MONOTONIC, &now);
        while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 300);
        const timespec rest{0, 200'000'000};
        nanosleep(&rest, nullptr);
      }
    }
    close(answer[1]);
    char ready = 'n';
    FRunning = FPid > 0 && read(answer[0], &ready, 1) == 1 && ready == 'y';
    close(answer[0]);
  }
  ~TRealtimeHog() {
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }
  bool Running() const { return FRunning; }

private:
  pid_t FPid = -1;
  bool FRunning = false;
};

enum class TStall {
  StopProcess,
  StopInBursts,
  HoldOwnThreads,
  HoldJacksProcessThread,
  RealtimeHog,
  FreezeServerInBursts
};
enum class TLoss { None, Possible, Certain, Any };

struct TStallCase {
  const char* Name;
  bool SyncServer;
  TStall Stall;
  TLoss Expected;
  uint32_t PieceBytes = 0; // the source sends longer messages in pieces of this size
};

void PrintTo(const TStallCase& c, std::ostream* out) {
  *out << c.Name;
}

class StalledReceiver : public ::testing::TestWithParam<TStallCase> {
protected:
  void TearDown() override {
    if (FReceiver)
      FReceiver->Signal(SIGCONT);
    FReceiver.reset();
    FPeer.reset();
    FHog.reset();
    FServer.reset();
  }

  // Starts the server, the peer's output and pelrow-cli receive listening to it.
  void Start(bool sync) {
    FServer =
        std::make_unique<TJackServerProcess>("pelrow-stall-" + std::to_string(getpid()), sync);
    ASSERT_TRUE(FServer->Start()) << "no jackd";
    FPeer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    ASSERT_TRUE(FPeer->Ok("open_out src"));
    const std::string src = TPeerProcess::PortName("src");
    FReceiver = std::make_unique<TCliProcess>(
        std::vector<std::string>{"--midi=jack", "receive", "--in", src, "--quiet", "1500", "--idle",
                                 std::to_string(IdleSeconds), "-o", FFolder.Path("dump.txt")},
        FFolder.Path());
    ASSERT_TRUE(WaitForMoreJackConnections(src, 0, ConnectWaitMs));
    std::this_thread::sleep_for(200ms); // connected; now it starts listening
  }

  // Holds the receiver up while the dump comes, in the case's way.
  void Stall(TStall stall) {
    std::this_thread::sleep_for(200ms);
    if (stall == TStall::StopProcess) {
      FReceiver->Signal(SIGSTOP);
      std::this_thread::sleep_for(1500ms);
      FReceiver->Signal(SIGCONT);
    } else if (stall == TStall::StopInBursts || stall == TStall::FreezeServerInBursts) {
      // Many short interruptions: some fall inside a message that came in pieces.
      for (int burst = 0; burst < 10; ++burst) {
        if (stall == TStall::StopInBursts)
          FReceiver->Signal(SIGSTOP);
        else
          FServer->Freeze();
        std::this_thread::sleep_for(150ms);
        if (stall == TStall::StopInBursts)
          FReceiver->Signal(SIGCONT);
        else
          FServer->Thaw();
        std::this_thread::sleep_for(100ms);
      }
    } else if (stall == TStall::HoldOwnThreads) {
      const THeldThreads held(FReceiver->Pid(), THeld::OwnThreads);
      ASSERT_GT(held.Count(), 0u) << "no thread of the receiver could be held";
      std::this_thread::sleep_for(1500ms);
    } else if (stall == TStall::HoldJacksProcessThread) {
      const THeldThreads held(FReceiver->Pid(), THeld::JacksProcessThread);
      ASSERT_EQ(held.Count(), 1u) << "libjack's process thread could not be held";
      // Longer than a client's cycles may stand while the server's clock goes on
      // before the client counts as dropped.
      std::this_thread::sleep_for(2500ms);
    }
  }

  TScratchFolder FFolder;
  std::unique_ptr<TJackServerProcess> FServer;
  std::unique_ptr<TPeerProcess> FPeer;
  std::unique_ptr<TCliProcess> FReceiver;
  std::unique_ptr<TRealtimeHog> FHog;
};

TEST_P(StalledReceiver, EveryMessageIsWholeOrMissingAndEveryLossIsTold) {
  const TStallCase& c = GetParam();
  if (c.Stall == TStall::RealtimeHog) {
    // Everything on the hog's CPU: the server, the peer and the receiver.
    cpu_set_t cpus, before;
    sched_getaffinity(0, sizeof before, &before);
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);
    ASSERT_NO_FATAL_FAILURE(Start(c.SyncServer));
    sched_setaffinity(0, sizeof before, &before);
    FHog = std::make_unique<TRealtimeHog>();
    if (!FHog->Running())
      GTEST_SKIP() << "SCHED_FIFO cannot be set here (no CAP_SYS_NICE or RLIMIT_RTPRIO): "
                      "no realtime hog";
  } else {
    ASSERT_NO_FATAL_FAILURE(Start(c.SyncServer));
  }
  const std::vector<uint8_t> dump = TaggedDump(DumpMessages);
  std::thread sender([&] { EXPECT_TRUE(FPeer->SendBytes("src", dump, c.PieceBytes)); });
  Stall(c.Stall);
  sender.join();
  const TCliResult result = FReceiver->Wait(120000);
  FHog.reset();

  const TMarkedBytes got = ReadMarkedLines(FileLines(FFolder.Path("dump.txt")));
  const TTaggedCheck check = CheckTagged(got.Bytes, got.AllMarks());
  const long unmarked = FirstUnmarkedGap(got.Bytes, got.AllMarks(), DumpMessages);
  const bool certain = !got.LossOffsets.empty();
  const bool possible = !got.MayBeLostOffsets.empty();
  // Messages cut with no loss at their place: an interruption cut them.
  const bool cutByInterruption =
      std::any_of(got.CutOffsets.begin(), got.CutOffsets.end(), [&](size_t at) {
        return std::find(got.LossOffsets.begin(), got.LossOffsets.end(), at) ==
               got.LossOffsets.end();
      });
  const bool allWhole = check.Whole == DumpMessages && check.Cut == 0;
  std::printf("%s: %zu of %zu messages whole, %zu cut, %zu marks of loss, %zu of possible loss, "
              "exit %d\n",
              c.Name, check.Whole, DumpMessages, check.Cut, got.LossOffsets.size(),
              got.MayBeLostOffsets.size(), result.Status);
  ASSERT_FALSE(result.TimedOut) << "pelrow-cli did not end:\n" << result.Err;
  ASSERT_EQ(result.Signal, 0) << "pelrow-cli died of signal " << result.Signal << ":\n"
                              << result.Err;
  if (got.Bytes.empty() && result.Err.find(NothingReceived) != std::string::npos) {
    // All of it went while the receiver was stopped, and no input came near the
    // interruption that the receiver could see.
    EXPECT_NE(c.Expected, TLoss::None) << result.Err;
    return;
  }
  EXPECT_EQ(check.Problem, "");
  EXPECT_EQ(unmarked, -1) << "message " << unmarked << " went missing without a mark at its place";
  EXPECT_FALSE(allWhole && certain) << "a loss was told where nothing was lost";
  // A server that goes on may give up on a receiver that was stopped, without
  // telling it: the receiver notices, ends with what came and says input may be
  // missing from there on.
  const bool dropped = result.Err.find(ClientDropped) != std::string::npos;
  std::printf("%s: %s\n", c.Name, dropped ? "the server dropped the receiver" : "kept");
  if (dropped) {
    EXPECT_TRUE((c.Stall == TStall::StopProcess || c.Stall == TStall::StopInBursts) &&
                !c.SyncServer)
        << result.Err;
    EXPECT_EQ(result.Status, 3) << result.Err;
    EXPECT_TRUE(possible) << "no mark where the input may have been lost";
  } else if (certain) {
    EXPECT_EQ(result.Status, 3) << result.Err;
    EXPECT_TRUE(result.Err.starts_with(LostPrefix)) << result.Err;
    // Where the server itself loses nothing (it waits for us) and nothing was
    // interrupted, every byte that did not arrive is counted. A server that goes on
    // may lose input while we are stopped, and an interruption our input ring then
    // overflows after is told as the ring's loss, which that count does not hold.
    if (c.SyncServer && !possible && !cutByInterruption) {
      // A loss that took the end of the dump's last message leaves it cut, and
      // the receiver says so too.
      const std::string lost = std::string(LostPrefix) +
                               std::to_string(dump.size() - got.Bytes.size()) +
                               " bytes could not be kept\n";
      EXPECT_TRUE(result.Err == lost || result.Err == lost + LastMessageCut ||
                  result.Err == LastMessageCut + lost)
          << result.Err;
    }
  } else if (possible || cutByInterruption) {
    EXPECT_EQ(result.Status, 4) << result.Err;
    EXPECT_EQ(result.Err.find(XrunWarning) != std::string::npos, possible) << result.Err;
    EXPECT_EQ(result.Err.find(CutWarning) != std::string::npos ||
                  result.Err.find(LastMessageCut) != std::string::npos,
              cutByInterruption)
        << result.Err;
  } else {
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Err, "");
  }
  switch (c.Expected) {
  case TLoss::None:
    EXPECT_TRUE(allWhole);
    break;
  case TLoss::Possible:
    EXPECT_FALSE(certain);
    break;
  case TLoss::Certain:
    EXPECT_TRUE(certain);
    break;
  case TLoss::Any:
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jack, StalledReceiver,
    ::testing::Values(
        // A synchronous server waits for the stopped receiver: nothing is lost.
        TStallCase{"StoppedOnASyncServer", true, TStall::StopProcess, TLoss::None},
        // On a busy machine the input ring may also run full as the receiver catches
        // up after it was stopped: a certain loss on top.
        TStallCase{"StoppedOnAServerThatGoesOn", false, TStall::StopProcess, TLoss::Any},
        TStallCase{"StoppedInBurstsOnAServerThatGoesOn", false, TStall::StopInBursts, TLoss::Any,
                   700},
        TStallCase{"ServerFrozenInBursts", false, TStall::FreezeServerInBursts, TLoss::Any, 700},
        TStallCase{"OwnThreadsHeldWhileJackRuns", true, TStall::HoldOwnThreads, TLoss::Certain},
        TStallCase{"JacksProcessThreadHeldOnAServerThatGoesOn", false,
                   TStall::HoldJacksProcessThread, TLoss::Possible},
        TStallCase{"RealtimeHogOnTheServersCpu", true, TStall::RealtimeHog, TLoss::Any}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace pelrow::testing
