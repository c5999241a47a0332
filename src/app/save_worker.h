// Saving on a worker thread while the window goes on answering. Both ways of saving
// a box (one file, or one file per message) run their writing here: the worker
// looks often whether it is to stop and tells how far it got, its reports reach the
// window in order through the UI thread, and once it is done the save ends on the
// UI thread. A save that is called off stops soon, is waited for, and nothing of it
// acts any more.
#pragma once

#include "app/status_report.h"

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

namespace pelrow {

class TUiPoster;

// Progress of a save on a worker thread, in the status panel only.
inline constexpr char SavingPercentText[] = "Saving %d%%...";

// A stop request ends a save at once; what it was writing is then abandoned.
class ESaveStopped : public std::runtime_error {
public:
  ESaveStopped() : std::runtime_error("stopped") {}
};

// How a save goes on: every step items it looks whether it is to stop, and tells
// how far it got when it has someone to tell.
class TSaveRun {
public:
  static constexpr int LineStep = 4096;

  explicit TSaveRun(const std::atomic<bool>* stop = nullptr,
                    std::function<void(int percent)> progress = {}, int step = LineStep);

  // Raises ESaveStopped once a stop was asked for.
  void CheckStop() const;
  // Item index of count is next.
  void At(int index, int count);

private:
  const std::atomic<bool>* FStop;
  std::function<void(int)> FProgress;
  int FStep;
  int FLastPercent = -1;
};

class TSaveWorker {
public:
  // Runs on the worker; reports go to the UI thread's ShowStatus, in order.
  using TWork = std::function<void(TSaveRun& run, const TShowStatus& report)>;

  TSaveWorker() = default;
  ~TSaveWorker(); // calls the work off
  TSaveWorker(const TSaveWorker&) = delete;
  TSaveWorker& operator=(const TSaveWorker&) = delete;

  // Runs work on a thread of its own; its progress shows in side's status panel
  // when progress is set, and a run looks for a stop every step items. Then ended
  // runs on the UI thread, after the worker was joined. False when no thread could
  // be started: nothing ran.
  bool Start(TUiPoster& poster, TShowStatus showStatus, TStatusSide side, bool progress, int step,
             TWork work, std::function<void()> ended);
  bool Running() const { return FJob != nullptr; }
  // Stops the work and waits for it; ended never runs and no later report acts.
  void Cancel();

private:
  struct TJob;
  std::shared_ptr<TJob> FJob;
  std::thread FThread;
};

} // namespace pelrow
