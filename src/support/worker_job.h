// Work that the UI thread hands to a worker thread and may call off: the job carries
// a Cancelled flag that the worker looks at often, and what the worker posts back
// acts only while the flag is down.
#pragma once

#include <memory>
#include <thread>

namespace pelrow {

// Raises the job's Cancelled flag and waits for its worker to end.
template <typename TJob> void CancelAndJoin(const std::shared_ptr<TJob>& job, std::thread& worker) {
  if (job)
    job->Cancelled = true;
  if (worker.joinable())
    worker.join();
}

} // namespace pelrow
