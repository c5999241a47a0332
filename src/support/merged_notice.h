// A notice that any thread may raise and the UI thread answers once: however many
// notices arrive before the UI thread gets to it, one call of the handler follows.
// A notice raised while the handler runs brings one more call afterwards, so the
// last change is never missed. Backends announce device changes this way; the
// window then rescans its device lists once.
#pragma once

#include "support/clock.h"

#include <functional>
#include <memory>

namespace pelrow {

class TMergedNotice {
public:
  TMergedNotice(TUiPoster& poster, std::function<void()> onNotice);
  // After this no handler call starts, even for a notice raised on another thread
  // at the same moment or one that is still queued.
  ~TMergedNotice();
  TMergedNotice(const TMergedNotice&) = delete;
  TMergedNotice& operator=(const TMergedNotice&) = delete;

  // Safe from any thread, also after the notice is gone (it then does nothing).
  std::function<void()> Raiser() const;

private:
  struct TState;
  std::shared_ptr<TState> FState;
};

} // namespace pelrow
