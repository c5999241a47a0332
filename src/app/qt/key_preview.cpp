#include "app/qt/key_preview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace pelrow {

TKeyPreview::TKeyPreview(QWidget& window) : FWindow(window) {
  QApplication::instance()->installEventFilter(this);
}

TKeyPreview::~TKeyPreview() {
  if (QCoreApplication* application = QApplication::instance())
    application->removeEventFilter(this);
}

bool TKeyPreview::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyRelease || !OnKeyUp)
    return false;
  // Held keys repeat their releases, which are no key-up of their own.
  auto* widget = qobject_cast<QWidget*>(watched);
  auto* key = static_cast<QKeyEvent*>(event);
  if (!widget || widget->window() != &FWindow || key->isAutoRepeat())
    return false;
  return OnKeyUp(*key);
}

} // namespace pelrow
