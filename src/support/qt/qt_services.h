// The Qt side of the injected time and thread services: a timer on Qt's event loop
// and a poster that runs work on the UI thread through Qt's queued calls.
#pragma once

#include "support/clock.h"

#include <QObject>

#include <memory>

namespace pelrow {

std::unique_ptr<TTimer> MakeQtTimer();

// Work posted from any thread runs on the thread that made the poster, from its
// event loop. Work still queued when the poster goes is dropped.
class TQtUiPoster final : public TUiPoster {
public:
  void Post(std::function<void()> work) override;

private:
  QObject FContext;
};

} // namespace pelrow
