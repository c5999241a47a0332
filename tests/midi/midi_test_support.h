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
#include <sstream>
#include <string>
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

// "F0 01 F7" to its bytes.
inline std::vector<uint8_t> HexBytes(const std::string& text) {
  std::istringstream words(text);
  std::vector<uint8_t> bytes;
  std::string word;
  while (words >> word)
    bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  return bytes;
}

// Bytes as " F0 01 F7" (each with a blank before it).
inline std::string HexText(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text += {' ', digits[bytes[i] >> 4], digits[bytes[i] & 0x0F]};
  return text;
}

} // namespace pelrow::test
