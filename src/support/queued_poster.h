// A "UI thread" that is a plain loop: posted work waits in a queue until the
// owning thread runs it. Headless runs (tests, benchmarks) drive the device layer
// with it; the program itself posts through Qt's event loop instead.
#pragma once

#include "support/clock.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pelrow {

class TQueuedPoster final : public TUiPoster {
public:
  void Post(std::function<void()> work) override;

  // Runs whatever is queued now; returns how many items ran.
  size_t RunPending();

  // Waits until something is queued (or the limit passes), then runs all of it.
  size_t WaitAndRunPending(std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Runs posted work until done() holds or the limit passes; answers done(). The
  // limit only keeps a broken caller from hanging.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(20));

  size_t Waiting();

private:
  std::deque<std::function<void()>> TakeAll();

  std::mutex FMutex;
  std::condition_variable FPosted;
  std::deque<std::function<void()>> FQueue;
};

} // namespace pelrow
