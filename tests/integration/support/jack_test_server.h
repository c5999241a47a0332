// The JACK server that integration tests and benchmarks talk to. The test run
// starts one for all tests (jack_server.sh, named in PELROW_JACK_SERVER_STATE);
// a program run on its own starts a dummy server of its own and stops it at exit.
#pragma once

#include <sys/types.h>

#include <string>

namespace pelrow::testing {

// Makes sure a server answers and points JACK_DEFAULT_SERVER at it (for this
// process and the peers it starts). Returns the server's name, or empty with a
// reason when none could be started.
std::string EnsureJackServer(std::string& failure);

// A dummy server of a test's own, under a name of its own, for tests that freeze
// or kill it. JACK_DEFAULT_SERVER points at it while it exists.
class TJackServerProcess {
public:
  // sync false: the server goes on without late clients (xruns, as on a desktop).
  explicit TJackServerProcess(std::string name, bool sync = true);
  ~TJackServerProcess();
  TJackServerProcess(const TJackServerProcess&) = delete;
  TJackServerProcess& operator=(const TJackServerProcess&) = delete;

  // Starts the server and waits until it answers.
  bool Start();
  void Freeze(); // SIGSTOP: it runs no more cycles and answers no call
  void Thaw();
  void Kill(); // SIGKILL, as when it crashes
  // The destructor stops the server cleanly (started again first if it was killed).

private:
  std::string FName;
  std::string FPrevious;
  bool FSync = true;
  pid_t FPid = 0;
  bool FKilled = false;
};

} // namespace pelrow::testing
