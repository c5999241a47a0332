// Injected time and thread services. Logic that reads a millisecond clock, arms a
// timer or hands work to the UI thread takes these interfaces, so that the program
// passes Qt-backed implementations and tests move time by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace pelrow {

// Milliseconds on a steady clock as an unsigned 32-bit count; it wraps after about
// 49 days, so differences must be taken in unsigned arithmetic.
class TClock {
public:
  virtual ~TClock() = default;
  virtual uint32_t NowMs() = 0;
};

// The process-wide steady clock (milliseconds since the first call).
TClock& SteadyClock();
uint32_t TimeGetTime();

// Runs a function on the UI thread later. Safe to call from any thread.
class TUiPoster {
public:
  virtual ~TUiPoster() = default;
  virtual void Post(std::function<void()> work) = 0;
};

// A repeating or single-shot timer owned by its user; Start re-arms it.
class TTimer {
public:
  virtual ~TTimer() = default;
  virtual void Start(uint32_t intervalMs) = 0;
  virtual void Stop() = 0;
  virtual bool Active() const = 0;
  std::function<void(TTimer& sender)> OnTimer;
};

using TTimerFactory = std::function<std::unique_ptr<TTimer>()>;

} // namespace pelrow
