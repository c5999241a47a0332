// Work handed to the UI thread through Qt's event loop: the program's TUiPoster.
// Device threads post their data notices with it; the work runs on the thread that
// made the poster, in the order posted.
#pragma once

#include "support/clock.h"

#include <memory>

class QObject;

namespace pelrow {

class TQtUiPoster final : public TUiPoster {
public:
  TQtUiPoster();
  ~TQtUiPoster() override;

  // Safe from any thread. Work still queued when the poster is destroyed is dropped.
  void Post(std::function<void()> work) override;

private:
  std::unique_ptr<QObject> FReceiver;
};

} // namespace pelrow
