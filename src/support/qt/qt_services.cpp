#include "support/qt/qt_services.h"

#include <QTimer>

namespace pelrow {

namespace {
class TQtTimer final : public TTimer {
public:
  TQtTimer() {
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (OnTimer)
        OnTimer(*this);
    });
  }
  void Start(uint32_t intervalMs) override { FTimer.start(static_cast<int>(intervalMs)); }
  void Stop() override { FTimer.stop(); }
  bool Active() const override { return FTimer.isActive(); }

private:
  QTimer FTimer;
};
} // namespace

std::unique_ptr<TTimer> MakeQtTimer() {
  return std::make_unique<TQtTimer>();
}

void TQtUiPoster::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(&FContext, std::move(work), Qt::QueuedConnection);
}

} // namespace pelrow
