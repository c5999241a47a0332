#include "app/save_worker.h"

#include "support/clock.h"
#include "support/text_format.h"
#include "support/worker_job.h"

#include <cstdint>
#include <system_error>
#include <utility>

namespace pelrow {

TSaveRun::TSaveRun(const std::atomic<bool>* stop, std::function<void(int)> progress, int step)
    : FStop(stop), FProgress(std::move(progress)), FStep(step) {}

void TSaveRun::CheckStop() const {
  if (FStop != nullptr && FStop->load(std::memory_order_relaxed))
    throw ESaveStopped();
}

void TSaveRun::At(int index, int count) {
  if (index % FStep != 0)
    return;
  CheckStop();
  if (!FProgress || count <= 0)
    return;
  const int percent = static_cast<int>(static_cast<int64_t>(index) * 100 / count);
  if (percent != FLastPercent)
    FProgress(percent);
  FLastPercent = percent;
}

struct TSaveWorker::TJob {
  // Set on the UI thread; the worker stops soon after, and nothing it posts acts.
  std::atomic<bool> Cancelled{false};
};

TSaveWorker::~TSaveWorker() {
  CancelAndJoin(FJob, FThread);
}

bool TSaveWorker::Start(TUiPoster& poster, TShowStatus showStatus, TStatusSide side, bool progress,
                        int step, TWork work, std::function<void()> ended) {
  Cancel();
  auto job = std::make_shared<TJob>();
  // What the worker posts holds the job, so that it outlives a cancelled save, and
  // acts only while the save still runs.
  const auto post = [&poster, job](std::function<void()> step) {
    poster.Post([job, step = std::move(step)] {
      if (!job->Cancelled)
        step();
    });
  };
  TShowStatus report = [post, showStatus =
                                  std::move(showStatus)](const std::string& text, TStatusSide side,
                                                         TStatusKind kind, bool immediate) {
    post([=] {
      if (showStatus)
        showStatus(text, side, kind, immediate);
    });
  };
  auto run = [this, job, post, report, side, progress, step, work = std::move(work),
              ended = std::move(ended)] {
    TSaveRun saveRun(
        &job->Cancelled,
        progress ? [&report, side](int percent) {
          report(FormatText(SavingPercentText, percent), side, TStatusKind::StatusOnly, true);
        } : std::function<void(int)>(),
        step);
    try {
      work(saveRun, report);
    } catch (const ESaveStopped&) {
      return; // called off: nobody waits for an end
    }
    post([this, ended] {
      if (FThread.joinable())
        FThread.join();
      FJob.reset();
      ended();
    });
  };
  FJob = job;
  try {
    FThread = std::thread(std::move(run));
  } catch (const std::system_error&) {
    FJob.reset();
    return false;
  }
  return true;
}

void TSaveWorker::Cancel() {
  if (!FJob)
    return;
  CancelAndJoin(FJob, FThread);
  FJob.reset();
}

} // namespace pelrow
