// The interrupt flag and its signal handler.
#include "cli/interrupt.h"

#include <atomic>
#include <csignal>

namespace pelrow::cli {

namespace {
std::atomic<bool> InterruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int) {
  InterruptFlag.store(true);
}
} // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // One-shot: the next signal of the kind has its default effect.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return InterruptFlag.load();
}

void RequestInterrupt() {
  InterruptFlag.store(true);
}

void ClearInterrupt() {
  InterruptFlag.store(false);
}

} // namespace pelrow::cli
