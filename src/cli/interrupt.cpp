// The interrupt flag and its signal handler.
#include "cli/interrupt.h"

#include <csignal>

namespace pelrow::cli {

namespace {
std::atomic<bool> StopFlag{false};
std::atomic<int> StopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void OnSignal(int signal) {
  StopSignal.store(signal);
  StopFlag.store(true);
}
} // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // One-shot: the next signal of the kind has its default effect. No restart: a
  // read or an open that waits for a writer ends at once with EINTR.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return StopFlag.load();
}

const std::atomic<bool>& InterruptFlag() {
  return StopFlag;
}

int InterruptedStatus() {
  const int signal = StopSignal.load();
  return 128 + (signal > 0 ? signal : SIGINT);
}

void RequestInterrupt(int signal) {
  StopSignal.store(signal);
  StopFlag.store(true);
}

void ClearInterrupt() {
  StopSignal.store(0);
  StopFlag.store(false);
}

} // namespace pelrow::cli
