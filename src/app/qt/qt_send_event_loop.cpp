#include "app/qt/qt_send_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace pelrow {

void TQtSendEventLoop::ProcessPending() {
  QCoreApplication::processEvents();
}

void TQtSendEventLoop::Wait(uint32_t ms) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

} // namespace pelrow
