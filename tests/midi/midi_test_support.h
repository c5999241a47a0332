// Test helpers for the MIDI tests: a UI thread stand-in that runs posted work when
// the test asks, and byte patterns for SysEx.
#pragma once

#include "support/clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pelrow::test {

// Collects posted work; the test's own thread plays the UI thread and runs it.
class TQueuedPoster final : public TUiPoster {
public:
  void Post(std::function<void()> work) override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FQueue.push_back(std::move(work));
    }
    FPosted.notify_one();
  }

  // Runs posted work until done() holds. The limit only keeps a broken test from
  // hanging; no test depends on how long the wait takes.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::function<void()> work;
      {
        std::unique_lock<std::mutex> lock(FMutex);
        if (!FPosted.wait_until(lock, deadline, [&] { return !FQueue.empty(); }))
          return done();
        work = std::move(FQueue.front());
        FQueue.pop_front();
      }
      work();
    }
    return true;
  }

  size_t Waiting() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FQueue.size();
  }

private:
  std::mutex FMutex;
  std::condition_variable FPosted;
  std::deque<std::function<void()>> FQueue;
};

// Waits for a condition that another thread brings about (same limit rule).
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// F0, count - 2 data bytes counting up modulo 128, F7.
inline std::vector<uint8_t> SysEx(size_t count) {
  std::vector<uint8_t> bytes(count);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < count; ++i)
    bytes[i] = static_cast<uint8_t>(i & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

} // namespace pelrow::test
