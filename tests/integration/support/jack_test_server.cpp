// Finding or starting the dummy JACK server for tests and benchmarks.
#include "support/jack_test_server.h"

#include <string>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace pelrow::testing {

namespace {
// Generous: a machine under full load takes a while to start a server.
constexpr auto StartLimit = std::chrono::seconds(30);

// Starts a program (found on the PATH) with its output thrown away; 0 on failure.
pid_t SpawnQuiet(const char* const* argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : 0;
}

// Waits up to seconds for the server to answer. Asked from a process of its own:
// a libjack client opened here would share the process's libjack state with the
// clients under test (libjack closes those by itself when a client is opened
// after their server stopped).
bool ServerAnswers(int seconds = 1) {
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  const std::string limit = std::to_string(seconds);
  const char* argv[] = {"jack_wait", "-w", "-t", limit.c_str(), "-s", server ? server : "default",
                        nullptr};
  const pid_t pid = SpawnQuiet(argv);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// A server this process started; stopped when the process ends.
struct TOwnServer {
  pid_t Pid = 0;
  ~TOwnServer() {
    if (Pid <= 0)
      return;
    kill(Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
  }
};

pid_t SpawnServer(const std::string& name, bool sync = true) {
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  // As in jack_server.sh: synchronous, so a slow peer slows the clock and loses nothing.
  // An asynchronous one goes on without a late client and reports an xrun.
  std::vector<const char*> argv = {"jackd", "--no-realtime"};
  if (sync)
    argv.push_back("--sync");
  for (const char* arg : {"-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p", "256"})
    argv.push_back(arg);
  argv.push_back(nullptr);
  return SpawnQuiet(argv.data());
}

bool WaitUntilAnswers() {
  return ServerAnswers(int(StartLimit.count()));
}

bool StartOwnServer(const std::string& name, std::string& failure) {
  static TOwnServer server;
  server.Pid = SpawnServer(name);
  if (server.Pid <= 0) {
    failure = "jackd could not be started (is jackd2 installed?)";
    return false;
  }
  if (WaitUntilAnswers())
    return true;
  failure = "jackd did not answer within 10 seconds";
  return false;
}
} // namespace

std::string EnsureJackServer(std::string& failure) {
  if (const char* state = std::getenv("PELROW_JACK_SERVER_STATE")) {
    std::ifstream in(state);
    std::string name;
    if (in >> name)
      setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  }
  if (std::getenv("JACK_DEFAULT_SERVER") != nullptr && ServerAnswers())
    return std::getenv("JACK_DEFAULT_SERVER");
  const std::string name = "pelrow-own-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  return StartOwnServer(name, failure) ? name : std::string();
}

TJackServerProcess::TJackServerProcess(std::string name, bool sync)
    : FName(std::move(name)), FSync(sync) {
  if (const char* previous = std::getenv("JACK_DEFAULT_SERVER"))
    FPrevious = previous;
  setenv("JACK_DEFAULT_SERVER", FName.c_str(), 1);
}

// A server ended by SIGKILL stays in JACK's registry of servers (which has room
// for eight); one started again under its name and stopped cleanly frees its entry.
TJackServerProcess::~TJackServerProcess() {
  if (FPid <= 0 && FKilled)
    Start();
  if (FPid > 0) {
    kill(FPid, SIGCONT);
    kill(FPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(FPid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (waitpid(FPid, &status, WNOHANG) == 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, &status, 0);
    }
  }
  if (FPrevious.empty())
    unsetenv("JACK_DEFAULT_SERVER");
  else
    setenv("JACK_DEFAULT_SERVER", FPrevious.c_str(), 1);
}

bool TJackServerProcess::Start() {
  FKilled = false;
  FPid = SpawnServer(FName, FSync);
  return FPid > 0 && WaitUntilAnswers();
}

void TJackServerProcess::Freeze() {
  if (FPid > 0)
    kill(FPid, SIGSTOP);
}

void TJackServerProcess::Thaw() {
  if (FPid > 0)
    kill(FPid, SIGCONT);
}

void TJackServerProcess::Kill() {
  if (FPid <= 0)
    return;
  kill(FPid, SIGKILL);
  int status = 0;
  waitpid(FPid, &status, 0);
  FPid = 0;
  FKilled = true;
}

} // namespace pelrow::testing
