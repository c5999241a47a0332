#include "app/qt/input_block.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace pelrow {

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
  case QEvent::ShortcutOverride:
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonRelease:
  case QEvent::MouseButtonDblClick:
  case QEvent::Wheel:
  case QEvent::ContextMenu:
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::Drop:
  case QEvent::InputMethod:
    return true;
  default:
    return false;
  }
}

} // namespace

TInputBlock::TInputBlock(QWidget& window) : FWindow(window) {
  QCoreApplication::instance()->installEventFilter(this);
}

TInputBlock::~TInputBlock() {
  QCoreApplication::instance()->removeEventFilter(this);
}

bool TInputBlock::eventFilter(QObject* watched, QEvent* event) {
  // Shortcuts go to the actions, which belong to no widget of their own.
  if (event->type() == QEvent::Shortcut)
    return true;
  if (!IsUserInput(event->type()))
    return false;
  const auto* widget = qobject_cast<QWidget*>(watched);
  return widget && (widget->window() == &FWindow || FWindow.isAncestorOf(widget));
}

} // namespace pelrow
