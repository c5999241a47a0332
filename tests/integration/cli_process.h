// The built pelrow-cli run as a process of its own, as a script runs it: arguments,
// optional standard input, its output and error text and its exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pelrow::testing {

struct TCliResult {
  int Status = -1;       // the exit status, 128 + the signal that ended it as a shell says
  int Signal = 0;        // the signal that ended it, if one did
  bool TimedOut = false; // Wait gave up on it and killed it

  std::string Out;
  std::string Err;
};

// How the program is started, beyond its arguments.
struct TCliStart {
  std::string StandardInput;
  bool AsNobody = false;
  // Standard output goes to this path (/dev/full, a FIFO) instead of a file.
  std::string OutputPath;
  // Standard output is this descriptor (the write end of a pipe).
  int OutputFd = -1;
  // Standard error is this descriptor (a terminal's).
  int ErrorFd = -1;
  // As a process whose libraries ignore SIGPIPE: a closed pipe is seen as EPIPE.
  bool IgnorePipeSignal = false;
};

class TCliProcess {
public:
  // Starts pelrow-cli with args; its streams go to files in folder. asNobody gives
  // up root first, so that file permissions apply to it.
  TCliProcess(const std::vector<std::string>& args, const std::string& folder,
              const std::string& standardInput = {}, bool asNobody = false);
  TCliProcess(const std::vector<std::string>& args, const std::string& folder,
              const TCliStart& start);
  ~TCliProcess();
  TCliProcess(const TCliProcess&) = delete;
  TCliProcess& operator=(const TCliProcess&) = delete;

  // Waits for the end (killing the process after timeoutMs).
  TCliResult Wait(int timeoutMs = 60000);
  bool Running();
  void Signal(int signal);
  pid_t Pid() const { return FPid; }

private:
  pid_t FPid = -1;
  int FSignal = 0;
  bool FTimedOut = false;
  std::string FOutPath, FErrPath;
  bool FWaited = false;
  int FStatus = -1;
};

// Runs pelrow-cli to its end.
TCliResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                  const std::string& standardInput = {}, bool asNobody = false);
TCliResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                  const TCliStart& start);

// Number of connections of a JACK port (-1 when there is no such port).
int JackConnections(const std::string& portName);
// Waits until the port has more than `than` connections; false after timeoutMs.
bool WaitForMoreJackConnections(const std::string& portName, int than, int timeoutMs);

} // namespace pelrow::testing
