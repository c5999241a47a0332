// Test helpers for the MIDI tests: waiting for other threads, and byte patterns
// for SysEx.
#pragma once

#include "support/queued_poster.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pelrow::test {

using pelrow::TQueuedPoster;

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
