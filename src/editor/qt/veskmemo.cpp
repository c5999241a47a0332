// The editor widget: properties, metrics, scrolling, the text model's notices, painting and
// the caret. Keys, the mouse, the wheel and the completion list are in veskmemo_input.cpp.
#include "editor/qt/veskmemo.h"

#include "editor/qt/vkdroplist.h"
#include "editor/qt/vkqtsupport.h"
#include "editor/vktextlayout.h"
#include "support/qt/latin1_text.h"

#include <QFocusEvent>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVariant>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace pelrow {

namespace {
constexpr const char* DefaultFontFamily = "Courier New";
constexpr int DefaultFontPoints = 10;
constexpr int DefaultWidth = 320;
constexpr int DefaultHeight = 240;
constexpr uint32_t BlinkMs = 400;
constexpr int IdleStepMs = 500;
constexpr uint32_t DeferredRefreshMs = 30;
constexpr int CaretWidth = 2;
constexpr int MaxRightEdgeCol = 1600;
constexpr int MaxDropListDelay = 10;
constexpr int ChildTopLimit = 10000;
constexpr const char* ChildTopProperty = "Tag";
} // namespace

TVKCustomMemo::TVKCustomMemo(QWidget* parent, TTimerFactory timers,
                             std::shared_ptr<TVKClipboard> clipboard)
    : QAbstractScrollArea(parent), FModel(this), FGutterOptions(*this) {
  if (!timers)
    timers = MakeQtTimer;
  SetClipboard(std::move(clipboard));
  FBlinkTimer = timers();
  FAutoScrollTimer = timers();
  FRefreshTimer = timers();
  FBlinkTimer->OnTimer = [this](TTimer&) { BlinkTick(); };
  FAutoScrollTimer->OnTimer = [this](TTimer&) { AutoScrollTick(); };
  FRefreshTimer->OnTimer = [this](TTimer&) { DeferredRefreshTick(); };
  FEnvironment.OnChange = [this](TVKEnvironment&) {
    viewport()->update();
    FGutter->update();
  };

  FGutter = new TVKGutter(*this);
  FDropList = new TVKDropList(*this);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setMouseTracking(true);
  QFont initial(DefaultFontFamily, DefaultFontPoints);
  SetFont(initial);
  SetBorderStyle(FBorderStyle);
  resize(DefaultWidth, DefaultHeight);
  UpdateMetrics();
  ApplyScrollbarPolicy();
}

TVKCustomMemo::~TVKCustomMemo() {
  FBlinkTimer->Stop();
  FAutoScrollTimer->Stop();
  FRefreshTimer->Stop();
}

// --- Properties ------------------------------------------------------------------------

void TVKCustomMemo::SetClipboard(std::shared_ptr<TVKClipboard> clipboard) {
  FModel.SetClipboard(clipboard ? std::move(clipboard) : std::make_shared<TVKQtClipboard>());
}

void TVKCustomMemo::SetReadOnly(bool value) {
  FModel.SetReadOnly(value);
  viewport()->update();
}

void TVKCustomMemo::SetFont(const QFont& value) {
  QFont fixed = value;
  fixed.setFixedPitch(true);
  fixed.setStyleHint(QFont::TypeWriter);
  setFont(fixed);
  UpdateMetrics();
}

void TVKCustomMemo::SetColor(TVKColor value) {
  FColor = value;
  FGutter->update();
}

void TVKCustomMemo::SetBorderStyle(TVKBorderStyle value) {
  FBorderStyle = value;
  setFrameStyle(value == TVKBorderStyle::bsNone ? QFrame::NoFrame
                                                : (QFrame::StyledPanel | QFrame::Sunken));
  UpdateMetrics();
}

void TVKCustomMemo::SetScrollbars(TVKScrolls value) {
  FScrollbars = value;
  ApplyScrollbarPolicy();
  UpdateMetrics();
}

void TVKCustomMemo::SetTabWidth(int value) {
  FModel.SetTabWidth(value);
  viewport()->update();
}

void TVKCustomMemo::SetRightEdge(bool value) {
  FRightEdge = value;
  viewport()->update();
}

void TVKCustomMemo::SetRightEdgeCol(int value) {
  FRightEdgeCol = std::clamp(value, 1, MaxRightEdgeCol);
  viewport()->update();
}

void TVKCustomMemo::SetTracking(bool value) {
  FTracking = value;
  verticalScrollBar()->setTracking(value);
  horizontalScrollBar()->setTracking(value);
}

void TVKCustomMemo::SetDropListTimeDelay(int seconds) {
  FDropListTimeDelay = std::clamp(seconds, 0, MaxDropListDelay);
}

bool TVKCustomMemo::DropListVisible() const {
  return FDropList->isVisible();
}

// --- Metrics and scroll bars -----------------------------------------------------------

// A bar that Scrollbars leaves out stays hidden whatever its range; an included bar
// is always shown, disabled when there is nothing to scroll.
void TVKCustomMemo::ApplyScrollbarPolicy() {
  const bool vertical = FScrollbars == TVKScrolls::sbBoth || FScrollbars == TVKScrolls::sbVertical;
  setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(HorizontalBarShown() ? Qt::ScrollBarAlwaysOn
                                                    : Qt::ScrollBarAlwaysOff);
  if (!HorizontalBarShown())
    SetLeftCol(0);
}

bool TVKCustomMemo::HorizontalBarShown() const {
  return FScrollbars == TVKScrolls::sbBoth || FScrollbars == TVKScrolls::sbHorizontal;
}

void TVKCustomMemo::UpdateMetrics() {
  const QFontMetrics metrics(font());
  FCharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('W')));
  FLineHeight = std::max(1, metrics.height());
  FAscent = metrics.ascent();
  UpdateGlyphs();
  UpdateGutter();
  FWindow.VisibleLines = viewport()->height() / FLineHeight;
  FWindow.VisibleCols = viewport()->width() / FCharWidth;
  UpdateScrollBars();
  viewport()->update();
}

int TVKCustomMemo::MaxTopLine() const {
  return FWindow.MaxTopLine(Lines().Count());
}

void TVKCustomMemo::UpdateScrollBars() {
  // Lines removed by the program must not leave the view below the text.
  if (FWindow.TopLine > MaxTopLine()) {
    FWindow.TopLine = MaxTopLine();
    viewport()->update();
    FGutter->update();
  }
  FSettingScrollBars = true;
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, MaxTopLine());
  vertical->setPageStep(std::max(1, FWindow.VisibleLines));
  vertical->setSingleStep(1);
  vertical->setValue(FWindow.TopLine);
  vertical->setEnabled(vertical->maximum() > 0);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, FWindow.HorzRange - FWindow.VisibleCols + 1));
  horizontal->setPageStep(std::max(1, FWindow.VisibleCols));
  horizontal->setSingleStep(1);
  horizontal->setValue(FWindow.LeftCol);
  horizontal->setEnabled(horizontal->maximum() > 0);
  FSettingScrollBars = false;
}

void TVKCustomMemo::UpdateGutter() {
  const int width = FGutterOptions.Visible() ? FGutterOptions.PaintWidth() : 0;
  setViewportMargins(width, 0, 0, 0);
  if (FGutterOptions.Visible()) {
    const QRect area = viewport()->geometry();
    FGutter->setGeometry(area.left() - width, area.top(), width, area.height());
    FGutter->show();
  } else {
    FGutter->hide();
  }
  FGutter->update();
}

void TVKCustomMemo::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateMetrics();
}

void TVKCustomMemo::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange)
    UpdateMetrics();
}

void TVKCustomMemo::NoteCaretColumn() {
  const int column = FModel.CaretDisplayCol();
  if (column > FWindow.HorzRange) {
    FWindow.HorzRange = column;
    if (!FRefreshPending && !FUpdating)
      UpdateScrollBars();
  }
}

// --- Scrolling -------------------------------------------------------------------------

void TVKCustomMemo::SetTopLine(int line) {
  line = FWindow.ClampTopLine(line, Lines().Count());
  CloseDropList();
  const int delta = FWindow.TopLine - line;
  if (delta == 0)
    return;
  FWindow.TopLine = line;
  FSettingScrollBars = true;
  verticalScrollBar()->setValue(line);
  FSettingScrollBars = false;
  MoveChildren(0, delta * FLineHeight);
  if (std::abs(delta) <= FWindow.VisibleLines && !FFullRedraw)
    viewport()->scroll(0, delta * FLineHeight);
  else
    viewport()->update();
  FGutter->update();
}

void TVKCustomMemo::SetLeftCol(int col) {
  // Without a horizontal bar nothing would show that the view is scrolled, so such
  // a box always shows the start of its lines.
  col = HorizontalBarShown() ? FWindow.ClampLeftCol(col) : 0;
  CloseDropList();
  const int delta = FWindow.LeftCol - col;
  if (delta == 0)
    return;
  FWindow.LeftCol = col;
  FSettingScrollBars = true;
  horizontalScrollBar()->setValue(col);
  FSettingScrollBars = false;
  MoveChildren(delta * FCharWidth, 0);
  viewport()->update();
}

void TVKCustomMemo::ScrollLines(int delta) {
  ResetIdle();
  SetTopLine(FWindow.TopLine + delta);
}

void TVKCustomMemo::ScrollColumns(int delta) {
  ResetIdle();
  SetLeftCol(FWindow.LeftCol + delta);
}

void TVKCustomMemo::scrollContentsBy(int dx, int dy) {
  if (FSettingScrollBars)
    return;
  if (dy != 0)
    ScrollLines(verticalScrollBar()->value() - FWindow.TopLine);
  if (dx != 0)
    ScrollColumns(horizontalScrollBar()->value() - FWindow.LeftCol);
}

// Controls placed on the text move with it; "Tag" keeps a child's unclamped top.
void TVKCustomMemo::MoveChildren(int dxPixels, int dyPixels) {
  for (QObject* object : viewport()->children()) {
    auto* child = qobject_cast<QWidget*>(object);
    if (!child || child == FDropList)
      continue;
    const QVariant tag = child->property(ChildTopProperty);
    const int top = (tag.isValid() ? tag.toInt() : child->y()) + dyPixels;
    child->setProperty(ChildTopProperty, top);
    child->move(child->x() + dxPixels, std::clamp(top, -ChildTopLimit, ChildTopLimit));
  }
}

void TVKCustomMemo::ScrollCaretIntoView() {
  const TVKPos caret = FModel.Caret();
  const TVKViewWindow shown = FWindow.ShowingCaret(caret.Line, FModel.CaretDisplayCol());
  if (shown.LeftCol != FWindow.LeftCol)
    SetLeftCol(shown.LeftCol);
  if (shown.TopLine != FWindow.TopLine)
    SetTopLine(shown.TopLine);
}

void TVKCustomMemo::ScrollToEnd() {
  SetTopLine(Lines().Count() - FWindow.VisibleLines);
  if (!Lines().Empty())
    FModel.MoveCaret(FModel.Caret().Col, Lines().Count() - 1, false, false);
}

void TVKCustomMemo::DeferRefresh() {
  if (FRefreshPending)
    return;
  FRefreshPending = true;
  FRefreshTimer->Start(DeferredRefreshMs);
}

void TVKCustomMemo::DeferredRefreshTick() {
  FRefreshPending = false;
  FRefreshTimer->Stop();
  FWindow.HorzRange = std::max(FWindow.HorzRange, Lines().MaxLineLength());
  UpdateScrollBars();
  UpdateGutter();
  ScrollToEnd();
  // The update that began before the refresh was deferred left the wait cursor.
  UpdateCursorShape(QGuiApplication::keyboardModifiers());
  viewport()->update();
}

// --- Notifications from the text model -------------------------------------------------

void TVKCustomMemo::ViewLinesChanging() {
  FUpdating = true;
  if (!FRefreshPending)
    viewport()->setCursor(Qt::WaitCursor);
}

void TVKCustomMemo::ViewLinesChangeEnded() {
  FUpdating = false;
  if (FPaintSkipped) {
    FPaintSkipped = false;
    viewport()->update();
  }
  if (!FRefreshPending)
    viewport()->setCursor(Qt::IBeamCursor);
  if (OnChange)
    OnChange(*this);
}

void TVKCustomMemo::ViewReset() {
  FWindow.TopLine = 0;
  FWindow.LeftCol = 0;
  FWindow.HorzRange = 0;
  FLayouts.Clear();
  CloseDropList();
  if (!FRefreshPending)
    UpdateScrollBars();
}

void TVKCustomMemo::ViewLinesChanged(int first, int last) {
  FLayouts.Forget(first, last);
  if (!FRefreshPending) {
    UpdateScrollBars();
    FGutter->update();
  }
  const int lastShown = FWindow.TopLine + FWindow.VisibleLines + 1;
  const int lastChanged = last < 0 ? Lines().Count() + 1 : last;
  if (lastChanged < FWindow.TopLine || first > lastShown)
    return;
  if (lastChanged - first + 1 > 2)
    viewport()->update();
  else
    ViewRepaintLines(first, lastChanged);
}

void TVKCustomMemo::ViewMaxLineLengthChanged(int maxLineLength) {
  if (maxLineLength <= FWindow.HorzRange)
    return;
  FWindow.HorzRange = maxLineLength;
  if (!FRefreshPending)
    UpdateScrollBars();
}

QRect TVKCustomMemo::LinesRect(int first, int last) const {
  if (last < first)
    std::swap(first, last);
  const int top = (std::max(first, FWindow.TopLine) - FWindow.TopLine) * FLineHeight;
  const int bottom =
      (std::min(last, FWindow.TopLine + FWindow.VisibleLines + 1) - FWindow.TopLine + 1) *
      FLineHeight;
  return QRect(0, top, viewport()->width(), bottom - top);
}

void TVKCustomMemo::ViewRepaintLines(int first, int last) {
  const QRect area = LinesRect(first, last);
  if (area.height() > 0)
    viewport()->update(area);
}

void TVKCustomMemo::ViewRepaintAll() {
  viewport()->update();
}

void TVKCustomMemo::ViewShowCaret() {
  FCaretShown = hasFocus();
  FSkipBlink = true;
  ViewRepaintLines(FModel.Caret().Line, FModel.Caret().Line);
}

void TVKCustomMemo::ViewCaretMoved() {
  FSkipBlink = true;
  FCaretShown = hasFocus();
  NoteCaretColumn();
  if (OnCaretMove)
    OnCaretMove(*this);
}

// --- Painting --------------------------------------------------------------------------

void TVKCustomMemo::UpdateGlyphs() {
  FRawFont = QRawFont::fromFont(font());
  FGlyphOf.fill(0);
  if (!FRawFont.isValid())
    return;
  QString bytes;
  for (int c = 0; c < 256; ++c)
    bytes += QChar(c);
  const QList<quint32> glyphs = FRawFont.glyphIndexesForString(bytes);
  for (int c = 32; c < 256 && c < glyphs.size(); ++c)
    FGlyphOf[static_cast<size_t>(c)] = glyphs[c];
}

int TVKCustomMemo::DisplayCol(int line, int col) const {
  if (line < 0 || line >= Lines().Count())
    return col;
  return FLayouts.DisplayColumn(line, Lines()[line], col, TabWidth());
}

int TVKCustomMemo::ColumnAtDisplayCol(int line, int displayCol) const {
  return FLayouts.ColumnAtDisplay(line, Lines()[line], displayCol, TabWidth());
}

std::string TVKCustomMemo::ShownText(int line, int left, int count) const {
  return FLayouts.VisibleText(line, Lines()[line], left, count, TabWidth());
}

QPoint TVKCustomMemo::CellPosition(int col, int line) const {
  const int column = DisplayCol(line, col);
  return {(column - FWindow.LeftCol) * FCharWidth, (line - FWindow.TopLine) * FLineHeight};
}

TVKPos TVKCustomMemo::PositionAt(const QPoint& point) const {
  if (Lines().Empty())
    return {};
  const TVKCell cell = CellAtPoint(point.x(), point.y(), FCharWidth, FLineHeight);
  const int line = std::clamp(FWindow.TopLine + cell.Line, 0, Lines().Count() - 1);
  const int display = std::max(0, FWindow.LeftCol + cell.Col);
  return {ColumnAtDisplayCol(line, display), line};
}

void TVKCustomMemo::paintEvent(QPaintEvent* event) {
  // Mid-update the lines may not match caret and selection yet; the change's end
  // repaints.
  if (FUpdating) {
    FPaintSkipped = true;
    return;
  }
  QPainter painter(viewport());
  painter.setFont(font());
  const QRect clip = event->rect();
  const int firstRow = std::max(0, clip.top() / FLineHeight);
  const int lastRow = clip.bottom() / FLineHeight;
  const QColor background = ColorToQColor(FEnvironment.TextBackground(), palette());
  for (int row = firstRow; row <= lastRow; ++row) {
    const int line = FWindow.TopLine + row;
    const int y = row * FLineHeight;
    if (line < Lines().Count())
      PaintLine(painter, line, y);
    else
      painter.fillRect(0, y, viewport()->width(), FLineHeight, background);
  }
  PaintCaret(painter);
}

// Each glyph goes to its own cell in one run of positioned glyphs: drawing the text as
// a string would place it at the font's own advance, which for many fixed-pitch fonts
// is a fraction of a pixel off the grid and drifts away from caret and selection.
void TVKCustomMemo::DrawCells(QPainter& painter, const QString& shown, int first, int count,
                              int baseline) {
  const int end = std::min(first + count, static_cast<int>(shown.size()));
  FGlyphIndexes.clear();
  FGlyphPositions.clear();
  for (int i = first; i < end; ++i) {
    const quint32 glyph = FGlyphOf[shown[i].unicode() & 0xFF];
    if (glyph == 0) {
      if (shown[i] != QLatin1Char(' '))
        painter.drawText(i * FCharWidth, baseline, QString(shown[i]));
      continue;
    }
    FGlyphIndexes.append(glyph);
    FGlyphPositions.append(QPointF(i * FCharWidth, baseline));
  }
  if (FGlyphIndexes.isEmpty())
    return;
  QGlyphRun run;
  run.setRawFont(FRawFont);
  run.setGlyphIndexes(FGlyphIndexes);
  run.setPositions(FGlyphPositions);
  painter.drawGlyphRun(QPointF(0, 0), run);
}

void TVKCustomMemo::PaintLine(QPainter& painter, int line, int y) {
  const QPalette& colours = palette();
  const int width = viewport()->width();
  const int left = FWindow.LeftCol;
  const QString shown = Latin1(ShownText(line, left, FWindow.VisibleCols + 1));
  const int baseline = y + FAscent;

  painter.fillRect(0, y, width, FLineHeight, ColorToQColor(FEnvironment.TextBackground(), colours));
  painter.setPen(ColorToQColor(FEnvironment.TextColor(), colours));
  DrawCells(painter, shown, 0, static_cast<int>(shown.size()), baseline);

  const TVKEditModel& model = FModel;
  if (model.SelAvail() && line >= model.SelStart().Line && line <= model.SelEnd().Line) {
    const int from = line == model.SelStart().Line ? DisplayCol(line, model.SelStart().Col) : 0;
    const bool lastLine = line == model.SelEnd().Line;
    // Only the visible part is laid out: on a middle line the selection simply runs
    // to the right edge, however long the line is.
    const int shownEnd = left + static_cast<int>(shown.size());
    const int to = lastLine ? std::min(DisplayCol(line, model.SelEnd().Col), shownEnd) : shownEnd;
    const int first = std::max(from, left) - left;
    const int last = std::max(to, left) - left;
    const int right = lastLine ? last * FCharWidth : width;
    if (right > first * FCharWidth) {
      painter.fillRect(first * FCharWidth, y, right - first * FCharWidth, FLineHeight,
                       ColorToQColor(FEnvironment.SelectionBackground(), colours));
      painter.setPen(ColorToQColor(FEnvironment.SelectionColor(), colours));
      DrawCells(painter, shown, first, last - first, baseline);
    }
  }

  if (FRightEdge) {
    const int x = (FRightEdgeCol - left) * FCharWidth;
    painter.setPen(ColorToQColor(FEnvironment.RightEdgeColor(), colours));
    painter.drawLine(x, y, x, y + FLineHeight - 1);
  }
}

void TVKCustomMemo::PaintCaret(QPainter& painter) {
  const TVKPos caret = FModel.Caret();
  if (!FCaretShown || ReadOnly() || caret.Line < FWindow.TopLine ||
      caret.Line > FWindow.TopLine + FWindow.VisibleLines)
    return;
  const QPoint cell = CellPosition(caret.Col, caret.Line);
  if (cell.x() < 0 || cell.x() > viewport()->width())
    return;
  painter.fillRect(cell.x(), cell.y(), CaretWidth, FLineHeight,
                   ColorToQColor(FEnvironment.TextColor(), palette()));
}

// --- Focus and blinking ----------------------------------------------------------------

void TVKCustomMemo::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  FCaretShown = true;
  FBlinkTimer->Start(BlinkMs);
  ViewRepaintLines(FModel.Caret().Line, FModel.Caret().Line);
}

void TVKCustomMemo::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  FBlinkTimer->Stop();
  FCaretShown = false;
  ViewRepaintLines(FModel.Caret().Line, FModel.Caret().Line);
  if (!FDropList->hasFocus())
    CloseDropList();
}

void TVKCustomMemo::BlinkTick() {
  if (FSkipBlink)
    FSkipBlink = false;
  else
    FCaretShown = !FCaretShown;
  ViewRepaintLines(FModel.Caret().Line, FModel.Caret().Line);
  FIdleMs += IdleStepMs;
  MaybeOpenDropList();
}

bool TVKCustomMemo::focusNextPrevChild(bool next) {
  if (FWantTabs && !ReadOnly())
    return false;
  return QAbstractScrollArea::focusNextPrevChild(next);
}

} // namespace pelrow
