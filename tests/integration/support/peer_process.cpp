// Starting the peer script and talking to it over two pipes.
#include "support/peer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace pelrow::testing {

namespace {
constexpr const char* Python = "/usr/bin/python3";
constexpr const char* PortPrefix = "pelrow-peer-";
} // namespace

TPeerProcess::TPeerProcess(TPeerKind kind) {
  int toPeer[2];
  int fromPeer[2];
  if (pipe2(toPeer, O_CLOEXEC) != 0)
    return;
  if (pipe2(fromPeer, O_CLOEXEC) != 0) {
    close(toPeer[0]);
    close(toPeer[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toPeer[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromPeer[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, toPeer[1]);
  posix_spawn_file_actions_addclose(&actions, fromPeer[0]);
  const char* python[] = {Python, PELROW_PEER_SCRIPT, nullptr};
  const char* raw[] = {PELROW_RAW_PEER, nullptr};
  const char** argv = kind == TPeerKind::RawEvents ? raw : python;
  if (posix_spawn(&FPid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
    FPid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(toPeer[0]);
  close(fromPeer[1]);
  FToPeer = toPeer[1];
  FFromPeer = fromPeer[0];
  FScratch = "/tmp/pelrow-peer-" + std::to_string(getpid()) + ".bin";
}

TPeerProcess::~TPeerProcess() {
  if (FPid > 0) {
    Command("quit");
    close(FToPeer);
    int status = 0;
    waitpid(FPid, &status, 0);
  }
  close(FFromPeer);
  std::remove(FScratch.c_str());
}

void TPeerProcess::Kill() {
  if (FPid <= 0)
    return;
  kill(FPid, SIGKILL);
  int status = 0;
  waitpid(FPid, &status, 0);
  FPid = -1;
  close(FToPeer);
  FToPeer = -1;
}

std::string TPeerProcess::PortName(const std::string& name) {
  return PortPrefix + name + ":" + name;
}

std::string TPeerProcess::Command(const std::string& line) {
  if (FPid <= 0)
    return "error peer not running";
  const std::string text = line + "\n";
  if (write(FToPeer, text.data(), text.size()) != ssize_t(text.size()))
    return "error peer gone";
  for (;;) {
    const size_t end = FPending.find('\n');
    if (end != std::string::npos) {
      std::string reply = FPending.substr(0, end);
      FPending.erase(0, end + 1);
      return reply;
    }
    char chunk[256];
    const ssize_t got = read(FFromPeer, chunk, sizeof chunk);
    if (got <= 0)
      return "error peer gone";
    FPending.append(chunk, size_t(got));
  }
}

bool TPeerProcess::SendBytes(const std::string& name, const std::vector<uint8_t>& bytes,
                             uint32_t pieceBytes) {
  {
    std::ofstream out(FScratch, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  const std::string piece = pieceBytes > 0 ? " " + std::to_string(pieceBytes) : "";
  return Command("send_file " + name + " " + FScratch + piece) ==
         "ok " + std::to_string(bytes.size());
}

void TPeerProcess::WaitForCount(const std::string& name, size_t count, int timeoutMs) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < limit) {
    const std::string reply = Command("count " + name);
    if (reply.rfind("ok ", 0) != 0 || std::stoull(reply.substr(3)) >= count)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<uint8_t> TPeerProcess::Receive(const std::string& name, size_t count, int timeoutMs) {
  WaitForCount(name, count, timeoutMs);
  Command("save " + name + " " + FScratch);
  std::ifstream in(FScratch, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<uint8_t>> TPeerProcess::ReceiveEvents(const std::string& name, size_t count,
                                                              int timeoutMs) {
  WaitForCount(name, count, timeoutMs);
  std::vector<std::vector<uint8_t>> events;
  if (Command("events " + name + " " + FScratch).rfind("ok", 0) != 0)
    return events;
  std::ifstream in(FScratch, std::ios::binary);
  uint32_t size = 0;
  while (in.read(reinterpret_cast<char*>(&size), sizeof size)) {
    std::vector<uint8_t> event(size);
    in.read(reinterpret_cast<char*>(event.data()), size);
    events.push_back(std::move(event));
  }
  return events;
}

} // namespace pelrow::testing
