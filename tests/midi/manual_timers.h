// Timers driven by a clock the test moves by hand: Advance fires every timer that
// comes due on the way, in order, so no test waits for real time.
#pragma once

#include "support/clock.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pelrow::test {

class TManualTimers {
public:
  TTimerFactory Factory() {
    return [this] {
      auto timer = std::make_unique<TTimerImpl>();
      FTimers.push_back(timer.get());
      timer->Owner = this;
      return std::unique_ptr<TTimer>(std::move(timer));
    };
  }

  void Advance(uint32_t ms) {
    const uint64_t end = FNow + ms;
    while (TTimerImpl* timer = NextDue(end)) {
      FNow = timer->Due;
      timer->Due = FNow + timer->Interval;
      if (timer->OnTimer)
        timer->OnTimer(*timer);
    }
    FNow = end;
  }

  size_t Made() const { return FTimers.size(); }
  bool AnyActive() const {
    for (const TTimerImpl* timer : FTimers)
      if (timer->Active())
        return true;
    return false;
  }

private:
  struct TTimerImpl final : TTimer {
    ~TTimerImpl() override {
      auto& timers = Owner->FTimers;
      std::erase(timers, this);
    }
    void Start(uint32_t intervalMs) override {
      Interval = intervalMs;
      Due = Owner->FNow + intervalMs;
      Running = true;
    }
    void Stop() override { Running = false; }
    bool Active() const override { return Running; }

    TManualTimers* Owner = nullptr;
    uint64_t Interval = 0;
    uint64_t Due = 0;
    bool Running = false;
  };

  TTimerImpl* NextDue(uint64_t end) {
    TTimerImpl* next = nullptr;
    for (TTimerImpl* timer : FTimers)
      if (timer->Running && timer->Due <= end && (next == nullptr || timer->Due < next->Due))
        next = timer;
    return next;
  }

  uint64_t FNow = 0;
  std::vector<TTimerImpl*> FTimers;
};

} // namespace pelrow::test
