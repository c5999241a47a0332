// Running pelrow-cli as a child process.
#include "cli_process.h"

#include <jack/jack.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace pelrow::testing {

namespace {
std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
} // namespace

TCliProcess::TCliProcess(const std::vector<std::string>& args, const std::string& folder,
                         const std::string& standardInput, bool asNobody)
    : TCliProcess(args, folder, TCliStart{standardInput, asNobody}) {}

TCliProcess::TCliProcess(const std::vector<std::string>& args, const std::string& folder,
                         const TCliStart& start) {
  static int serial = 0;
  const std::string stem = folder + "/cli-" + std::to_string(++serial);
  FOutPath = stem + ".out";
  FErrPath = stem + ".err";
  const std::string inPath = stem + ".in";
  std::ofstream(inPath, std::ios::binary) << start.StandardInput;
  const std::string outPath = start.OutputPath.empty() ? FOutPath : start.OutputPath;

  // Everything the child needs is made before the fork: after it, only calls that
  // are safe in a copy of a threaded process.
  std::vector<std::string> argv{PELROW_CLI_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  FPid = ::fork();
  if (FPid != 0)
    return;
  const int in = ::open(inPath.c_str(), O_RDONLY);
  const int out = start.OutputFd >= 0 ? start.OutputFd
                                      : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  const int err = start.ErrorFd >= 0 ? start.ErrorFd
                                     : ::open(FErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
    ::_exit(126);
  if (start.AsNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
    ::_exit(126);
  ::signal(SIGPIPE, start.IgnorePipeSignal ? SIG_IGN : SIG_DFL);
  ::execv(pointers[0], pointers.data());
  ::_exit(127);
}

TCliProcess::~TCliProcess() {
  if (FPid > 0 && !FWaited) {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
}

bool TCliProcess::Running() {
  if (FWaited || FPid <= 0)
    return false;
  int status = 0;
  if (::waitpid(FPid, &status, WNOHANG) != FPid)
    return true;
  FWaited = true;
  FStatus = WIFEXITED(status)     ? WEXITSTATUS(status)
            : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                  : -1;
  FSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return false;
}

void TCliProcess::Signal(int signal) {
  if (Running())
    ::kill(FPid, signal);
}

TCliResult TCliProcess::Wait(int timeoutMs) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (Running()) {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FWaited = true;
    FStatus = -1;
    FSignal = SIGKILL;
    FTimedOut = true;
  }
  return {FStatus, FSignal, FTimedOut, ReadAll(FOutPath), ReadAll(FErrPath)};
}

TCliResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                  const std::string& standardInput, bool asNobody) {
  return TCliProcess(args, folder, standardInput, asNobody).Wait();
}

TCliResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                  const TCliStart& start) {
  return TCliProcess(args, folder, start).Wait();
}

bool WaitForMoreJackConnections(const std::string& portName, int than, int timeoutMs) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open("pelrow-cli-probe", JackNoStartServer, &status);
  if (client == nullptr)
    return false;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool more = false;
  while (!more && std::chrono::steady_clock::now() < limit) {
    jack_port_t* port = jack_port_by_name(client, portName.c_str());
    more = port != nullptr && jack_port_connected(port) > than;
    if (!more)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  jack_client_close(client);
  return more;
}

int JackConnections(const std::string& portName) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open("pelrow-cli-probe", JackNoStartServer, &status);
  if (client == nullptr)
    return -1;
  jack_port_t* port = jack_port_by_name(client, portName.c_str());
  const int connections = port != nullptr ? jack_port_connected(port) : -1;
  jack_client_close(client);
  return connections;
}

} // namespace pelrow::testing
