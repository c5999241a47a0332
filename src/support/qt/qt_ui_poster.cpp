#include "support/qt/qt_ui_poster.h"

#include <QMetaObject>
#include <QObject>

namespace pelrow {

TQtUiPoster::TQtUiPoster() : FReceiver(std::make_unique<QObject>()) {}

TQtUiPoster::~TQtUiPoster() = default;

void TQtUiPoster::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(FReceiver.get(), std::move(work), Qt::QueuedConnection);
}

} // namespace pelrow
