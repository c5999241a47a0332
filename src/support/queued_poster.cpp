#include "support/queued_poster.h"

namespace pelrow {

void TQueuedPoster::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FQueue.push_back(std::move(work));
  }
  FPosted.notify_one();
}

std::deque<std::function<void()>> TQueuedPoster::TakeAll() {
  std::lock_guard<std::mutex> lock(FMutex);
  std::deque<std::function<void()>> work;
  work.swap(FQueue);
  return work;
}

size_t TQueuedPoster::RunPending() {
  auto work = TakeAll();
  for (auto& item : work)
    item();
  return work.size();
}

size_t TQueuedPoster::WaitAndRunPending(std::chrono::milliseconds limit) {
  {
    std::unique_lock<std::mutex> lock(FMutex);
    FPosted.wait_for(lock, limit, [&] { return !FQueue.empty(); });
  }
  return RunPending();
}

bool TQueuedPoster::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
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

size_t TQueuedPoster::Waiting() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FQueue.size();
}

} // namespace pelrow
