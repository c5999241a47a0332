#include "editor/qt/vkqtsupport.h"

#include "support/qt/latin1_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>

namespace pelrow {

namespace {
// The I-beam arrow with a small box under it: dragging text. Copying adds a plus.
QCursor DrawDragCursor(bool copy) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const QPolygon arrow({{0, 0}, {0, 16}, {4, 12}, {7, 19}, {9, 18}, {6, 11}, {11, 11}});
  painter.setPen(Qt::white);
  painter.setBrush(Qt::black);
  painter.drawPolygon(arrow);
  painter.setBrush(Qt::white);
  painter.setPen(Qt::black);
  painter.drawRect(8, 20, 12, 8);
  if (copy) {
    painter.drawRect(20, 8, 10, 10);
    painter.drawLine(22, 13, 28, 13);
    painter.drawLine(25, 10, 25, 16);
  }
  return QCursor(pixmap, 0, 0);
}

// An arrow pointing up and to the right: selecting whole lines from the gutter.
QCursor DrawLineSelCursor() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const QPolygon arrow({{16, 0}, {4, 6}, {8, 8}, {2, 14}, {4, 16}, {10, 10}, {12, 14}});
  painter.setPen(Qt::white);
  painter.setBrush(Qt::black);
  painter.drawPolygon(arrow);
  return QCursor(pixmap, 16, 0);
}
} // namespace

bool TVKQtClipboard::HasText() const {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && data->hasText() && !data->text().isEmpty();
}

std::string TVKQtClipboard::Text() const {
  return Latin1Bytes(QGuiApplication::clipboard()->text());
}

void TVKQtClipboard::SetText(const std::string& text) {
  QString shown = Latin1(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QGuiApplication::clipboard()->setText(shown);
}

const QCursor& EditorCursor(TVKCursorKind kind) {
  static const QCursor selDrag = DrawDragCursor(false);
  static const QCursor selDragCopy = DrawDragCursor(true);
  static const QCursor lineSel = DrawLineSelCursor();
  switch (kind) {
  case TVKCursorKind::SelDrag:
    return selDrag;
  case TVKCursorKind::SelDragCopy:
    return selDragCopy;
  case TVKCursorKind::LineSel:
    break;
  }
  return lineSel;
}

} // namespace pelrow
