#include "editor/qt/vkgutter.h"

#include "editor/qt/veskmemo.h"
#include "editor/qt/vkqtsupport.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace pelrow {

namespace {
constexpr const char* GutterFontFamily = "MS Sans Serif";
constexpr int GutterFontPoints = 8;
constexpr int MinWidth = 12;
constexpr int MaxWidth = 48;
constexpr int MinPaintWidth = 14;
constexpr int MaxLeadingDigits = 8;
} // namespace

TVKGutter::TVKGutter(TVKCustomMemo& memo) : QWidget(&memo), FMemo(memo) {
  QFont numbers(GutterFontFamily, GutterFontPoints);
  numbers.setStyleHint(QFont::SansSerif);
  setFont(numbers);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QString TVKGutter::NumberText(int number) const {
  const TVKGutterOptions& options = FMemo.GutterOptions();
  QString text = QString::number(number);
  if (text.size() <= options.LedingDigits())
    text = text.rightJustified(options.LedingDigits() + 1, QLatin1Char('0'));
  return text;
}

void TVKGutter::paintEvent(QPaintEvent*) {
  const TVKGutterOptions& options = FMemo.GutterOptions();
  const QPalette& palette = FMemo.palette();
  QPainter painter(this);
  const int w = width();
  painter.fillRect(rect(), ColorToQColor(options.Color(), palette));
  painter.setPen(ColorToQColor(FMemo.Color(), palette));
  painter.drawLine(w - 1, 0, w - 1, height());
  if (options.Bevel()) {
    painter.setPen(ColorToQColor(clBtnHighlight, palette));
    painter.drawLine(w - 3, 0, w - 3, height());
    painter.setPen(ColorToQColor(clBtnShadow, palette));
    painter.drawLine(w - 2, 0, w - 2, height());
  }
  if (!options.ShowLineNum())
    return;
  const int lineHeight = FMemo.LineHeight();
  const int right = w - options.Space() - 1 - (options.Bevel() ? 3 : 0);
  const int flags = Qt::TextSingleLine | Qt::AlignVCenter |
                    (options.Alignment() == TVKGutterAlignment::Left    ? Qt::AlignLeft
                     : options.Alignment() == TVKGutterAlignment::Right ? Qt::AlignRight
                                                                        : Qt::AlignHCenter);
  painter.setPen(ColorToQColor(options.FontColor(), palette));
  const int count = FMemo.Lines().Count();
  for (int row = 0; row <= FMemo.VisibleLines() + 1; ++row) {
    const int line = FMemo.TopLine() + row;
    // Only lines that exist get a number, whichever base the numbers start from.
    if (line >= count)
      break;
    const int number = line + (options.ZeroStart() ? 0 : 1);
    painter.drawText(QRect(2, row * lineHeight, std::max(0, right - 2), lineHeight), flags,
                     NumberText(number));
  }
}

namespace {
// The editor's text area starts right of the gutter; the column there is 0.
QPoint AtGutterEdge(const QPoint& point) {
  return {0, point.y()};
}
} // namespace

void TVKGutter::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    FMemo.GutterMouseDown(AtGutterEdge(event->position().toPoint()), event->modifiers());
}

void TVKGutter::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  setCursor(point.x() >= width() * 2 / 3 ? EditorCursor(TVKCursorKind::LineSel)
                                         : QCursor(Qt::ArrowCursor));
  FMemo.GutterMouseMove(AtGutterEdge(point));
}

void TVKGutter::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    FMemo.GutterMouseUp(AtGutterEdge(event->position().toPoint()), event->modifiers());
}

void TVKGutter::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}

// --- Options ---------------------------------------------------------------------------

void TVKGutterOptions::Changed() {
  FMemo.GutterChanged();
}

void TVKGutterOptions::SetVisible(bool value) {
  FVisible = value;
  Changed();
}

void TVKGutterOptions::SetWidth(int value) {
  FWidth = std::clamp(value, MinWidth, MaxWidth);
  FSpace = std::clamp(FSpace, 1, std::max(1, FWidth / 3));
  Changed();
}

void TVKGutterOptions::SetColor(TVKColor value) {
  FColor = value;
  Changed();
}

void TVKGutterOptions::SetFontColor(TVKColor value) {
  FFontColor = value;
  Changed();
}

void TVKGutterOptions::SetShowLineNum(bool value) {
  FShowLineNum = value;
  Changed();
}

void TVKGutterOptions::SetAlignment(TVKGutterAlignment value) {
  FAlignment = value;
  Changed();
}

void TVKGutterOptions::SetBevel(bool value) {
  FBevel = value;
  Changed();
}

void TVKGutterOptions::SetSpace(int value) {
  FSpace = std::clamp(value, 1, std::max(1, FWidth / 3));
  Changed();
}

void TVKGutterOptions::SetLedingDigits(int value) {
  FLedingDigits = std::clamp(value, 0, MaxLeadingDigits);
  Changed();
}

void TVKGutterOptions::SetZeroStart(bool value) {
  FZeroStart = value;
  Changed();
}

int TVKGutterOptions::PaintWidth() const {
  return std::max(FWidth, MinPaintWidth);
}

} // namespace pelrow
