// A timer that fires only when the test says so, and a factory that keeps the
// timers it made, in the order the unit under test asked for them.
#pragma once

#include "support/clock.h"

#include <memory>
#include <vector>

namespace pelrow {

class TManualTimer final : public TTimer {
public:
  void Start(uint32_t intervalMs) override {
    FActive = true;
    Interval = intervalMs;
    ++Starts;
  }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }
  void Fire() {
    if (FActive && OnTimer)
      OnTimer(*this);
  }
  uint32_t Interval = 0;
  int Starts = 0;

private:
  bool FActive = false;
};

class TManualTimers {
public:
  TTimerFactory Factory() {
    return [this] {
      auto timer = std::make_unique<TManualTimer>();
      FMade.push_back(timer.get());
      return std::unique_ptr<TTimer>(std::move(timer));
    };
  }
  TManualTimer& operator[](std::size_t index) { return *FMade.at(index); }
  std::size_t Count() const { return FMade.size(); }

private:
  std::vector<TManualTimer*> FMade;
};

} // namespace pelrow
