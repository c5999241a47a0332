// Finding or starting the dummy JACK server for tests and benchmarks.
#include "support/jack_test_server.h"

#include <jack/jack.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace pelrow::testing {

namespace {
constexpr auto StartLimit = std::chrono::seconds(10);

bool ServerAnswers() {
  jack_status_t status{};
  jack_client_t* client = jack_client_open("pelrow-probe", JackNoStartServer, &status);
  if (client == nullptr)
    return false;
  jack_client_close(client);
  return true;
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

bool StartOwnServer(const std::string& name, std::string& failure) {
  static TOwnServer server;
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  // As in jack_server.sh: synchronous, so a slow peer slows the clock and loses nothing.
  const char* argv[] = {"jackd", "--no-realtime", "--sync", "-n", name.c_str(), "-d", "dummy",
                        "-r",    "48000",         "-p",     "256", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&server.Pid, "jackd", &actions, nullptr,
                                   const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    failure = "jackd could not be started (is jackd2 installed?)";
    return false;
  }
  const auto limit = std::chrono::steady_clock::now() + StartLimit;
  while (std::chrono::steady_clock::now() < limit) {
    if (ServerAnswers())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
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

} // namespace pelrow::testing
