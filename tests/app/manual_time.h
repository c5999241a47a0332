// Time moved by hand for the send and receive tests: a clock, a timer that ticks
// when the test moves the clock past its due time, an event loop whose waits move
// the clock, and a recorder of status reports.
#pragma once

#include "app/send_engine.h"
#include "app/status_report.h"
#include "support/clock.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pelrow::test {

class TManualClock final : public TClock {
public:
  uint32_t NowMs() override { return Now; }
  uint32_t Now = 0;
};

// A repeating timer on a manual clock: it fires when the test advances the clock
// past each multiple of its interval since Start.
class TManualTimer final : public TTimer {
public:
  explicit TManualTimer(TManualClock& clock) : FClock(clock) {}
  void Start(uint32_t intervalMs) override {
    FActive = true;
    FInterval = intervalMs;
    FDue = FClock.Now + intervalMs;
    ++Starts;
  }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }
  // Moves the clock to `to`, firing every tick due on the way.
  void AdvanceTo(uint32_t to) {
    while (FActive && FDue <= to) {
      FClock.Now = FDue;
      FDue += FInterval;
      if (OnTimer)
        OnTimer(*this);
    }
    FClock.Now = to;
  }
  int Starts = 0;

private:
  TManualClock& FClock;
  bool FActive = false;
  uint32_t FInterval = 0;
  uint32_t FDue = 0;
};

// The send engine's event loop: a wait moves the clock; actions scheduled for a
// clock time run at the first pass or wait step at or after that time.
class TManualEventLoop final : public TSendEventLoop {
public:
  explicit TManualEventLoop(TManualClock& clock) : FClock(clock) {}
  void ProcessPending() override {
    ++Passes;
    if (OnPass)
      OnPass();
    RunDue();
  }
  void Wait(uint32_t ms) override {
    ++Waits;
    FClock.Now += ms;
    RunDue();
  }
  void At(uint32_t time, std::function<void()> action) {
    FActions.emplace(time, std::move(action));
  }

  int Passes = 0;
  int Waits = 0;
  // Runs at every pass, for what must happen while the clock stands still.
  std::function<void()> OnPass;

private:
  void RunDue() {
    while (!FActions.empty() && FActions.begin()->first <= FClock.Now) {
      auto action = std::move(FActions.begin()->second);
      FActions.erase(FActions.begin());
      action();
    }
  }

  TManualClock& FClock;
  std::multimap<uint32_t, std::function<void()>> FActions;
};

// Named apart from the file tests' TReport: both headers meet in one test program.
struct TRecordedStatus {
  std::string Text;
  TStatusSide Side;
  TStatusKind Kind;
};

class TStatusRecorder {
public:
  TShowStatus Sink() {
    return [this](const std::string& text, TStatusSide side, TStatusKind kind, bool) {
      Reports.push_back({text, side, kind});
    };
  }
  std::vector<std::string> Texts(TStatusKind kind) const {
    std::vector<std::string> texts;
    for (const auto& report : Reports)
      if (report.Kind == kind)
        texts.push_back(report.Text);
    return texts;
  }
  bool Has(const std::string& text) const {
    return std::any_of(Reports.begin(), Reports.end(),
                       [&](const TRecordedStatus& report) { return report.Text == text; });
  }
  size_t CountStartingWith(const std::string& prefix) const {
    return static_cast<size_t>(
        std::count_if(Reports.begin(), Reports.end(), [&](const TRecordedStatus& report) {
          return report.Text.rfind(prefix, 0) == 0;
        }));
  }
  std::vector<TRecordedStatus> Reports;
};

} // namespace pelrow::test
