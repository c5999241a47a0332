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
  // The first signal decides the status; a repeated hangup changes nothing.
  int none = 0;
  StopSignal.compare_exchange_strong(none, signal);
  StopFlag.store(true);
}
} // namespace

void InstallInterruptHandler() {
  for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // One-shot: the next signal of the kind has its default effect; a hangup
    // stays caught, since it comes again from the shell that lost its terminal.
    // No restart: a read or an open that waits for a writer ends at once with EINTR.
    action.sa_flags = signal == SIGHUP ? 0 : SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
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
