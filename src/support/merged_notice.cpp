#include "support/merged_notice.h"

#include <atomic>
#include <mutex>

namespace pelrow {

struct TMergedNotice::TState {
  std::mutex Mutex;
  TUiPoster* Poster; // null once the notice is gone
  std::atomic<bool> Pending{false};
  std::function<void()> OnNotice; // UI thread only
};

TMergedNotice::TMergedNotice(TUiPoster& poster, std::function<void()> onNotice)
    : FState(std::make_shared<TState>()) {
  FState->Poster = &poster;
  FState->OnNotice = std::move(onNotice);
}

TMergedNotice::~TMergedNotice() {
  std::lock_guard<std::mutex> lock(FState->Mutex);
  FState->Poster = nullptr;
  FState->OnNotice = nullptr;
}

std::function<void()> TMergedNotice::Raiser() const {
  return [state = FState] {
    std::lock_guard<std::mutex> lock(state->Mutex);
    if (state->Poster == nullptr || state->Pending.exchange(true))
      return;
    state->Poster->Post([weak = std::weak_ptr<TState>(state)] {
      const std::shared_ptr<TState> alive = weak.lock();
      if (alive == nullptr)
        return;
      // Cleared first: a notice raised while the handler runs is answered again.
      alive->Pending = false;
      if (alive->OnNotice)
        alive->OnNotice();
    });
  };
}

} // namespace pelrow
