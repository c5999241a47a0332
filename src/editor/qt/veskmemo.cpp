#include "editor/qt/veskmemo.h"

#include "editor/qt/vkdroplist.h"
#include "editor/qt/vkqtsupport.h"
#include "editor/vktextlayout.h"
#include "support/qt/latin1_text.h"

#include <QFocusEvent>
#include <QFontInfo>
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
constexpr uint32_t AutoScrollMs = 100;
constexpr uint32_t DeferredRefreshMs = 30;
constexpr int AutoScrollPixelsPerStep = 30;
constexpr int AutoScrollMaxStep = 6;
constexpr int WheelUnitsPerLine = 40;
constexpr int CaretWidth = 2;
constexpr int MaxRightEdgeCol = 1600;
constexpr int MaxDropListDelay = 10;
constexpr int ChildTopLimit = 10000;
constexpr const char* ChildTopProperty = "Tag";

// Floor division, so that points above or left of the text give negative cells.
int FloorDiv(int value, int divisor) {
  return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

char ToByte(QChar c) {
  return c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?';
}
} // namespace

TVKCustomMemo::TVKCustomMemo(QWidget* parent, TTimerFactory timers,
                             std::shared_ptr<TVKClipboard> clipboard)
    : QAbstractScrollArea(parent), FModel(this), FGutterOptions(*this) {
  if (!timers)
    timers = MakeQtTimer;
  FModel.SetClipboard(clipboard ? std::move(clipboard) : std::make_shared<TVKQtClipboard>());
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
  const bool horizontal =
      FScrollbars == TVKScrolls::sbBoth || FScrollbars == TVKScrolls::sbHorizontal;
  setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TVKCustomMemo::UpdateMetrics() {
  const QFontMetrics metrics(font());
  FCharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('W')));
  FLineHeight = std::max(1, metrics.height());
  FAscent = metrics.ascent();
  // A font without a fixed pitch is drawn character by character on the grid.
  FFixedGrid = QFontInfo(font()).fixedPitch();
  UpdateGutter();
  FVisibleLines = viewport()->height() / FLineHeight;
  FVisibleCols = viewport()->width() / FCharWidth;
  UpdateScrollBars();
  viewport()->update();
}

int TVKCustomMemo::MaxTopLine() const {
  return std::max(0, Lines().Count() - FVisibleLines);
}

void TVKCustomMemo::UpdateScrollBars() {
  // Lines removed by the program must not leave the view below the text.
  if (FTopLine > MaxTopLine()) {
    FTopLine = MaxTopLine();
    viewport()->update();
    FGutter->update();
  }
  FSettingScrollBars = true;
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, MaxTopLine());
  vertical->setPageStep(std::max(1, FVisibleLines));
  vertical->setSingleStep(1);
  vertical->setValue(FTopLine);
  vertical->setEnabled(vertical->maximum() > 0);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, FHorzRange - FVisibleCols + 1));
  horizontal->setPageStep(std::max(1, FVisibleCols));
  horizontal->setSingleStep(1);
  horizontal->setValue(FLeftCol);
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
  if (column > FHorzRange) {
    FHorzRange = column;
    if (!FRefreshPending && !FUpdating)
      UpdateScrollBars();
  }
}

// --- Scrolling -------------------------------------------------------------------------

void TVKCustomMemo::SetTopLine(int line) {
  line = std::clamp(line, 0, MaxTopLine());
  CloseDropList();
  const int delta = FTopLine - line;
  if (delta == 0)
    return;
  FTopLine = line;
  FSettingScrollBars = true;
  verticalScrollBar()->setValue(line);
  FSettingScrollBars = false;
  MoveChildren(0, delta * FLineHeight);
  if (std::abs(delta) <= FVisibleLines && !FFullRedraw)
    viewport()->scroll(0, delta * FLineHeight);
  else
    viewport()->update();
  FGutter->update();
}

void TVKCustomMemo::SetLeftCol(int col) {
  col = std::clamp(col, 0, std::max(0, FHorzRange));
  CloseDropList();
  const int delta = FLeftCol - col;
  if (delta == 0)
    return;
  FLeftCol = col;
  FSettingScrollBars = true;
  horizontalScrollBar()->setValue(col);
  FSettingScrollBars = false;
  MoveChildren(delta * FCharWidth, 0);
  viewport()->update();
}

void TVKCustomMemo::ScrollLines(int delta) {
  ResetIdle();
  SetTopLine(FTopLine + delta);
}

void TVKCustomMemo::ScrollColumns(int delta) {
  ResetIdle();
  SetLeftCol(FLeftCol + delta);
}

void TVKCustomMemo::scrollContentsBy(int dx, int dy) {
  if (FSettingScrollBars)
    return;
  if (dy != 0)
    ScrollLines(verticalScrollBar()->value() - FTopLine);
  if (dx != 0)
    ScrollColumns(horizontalScrollBar()->value() - FLeftCol);
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
  const int column = FModel.CaretDisplayCol();
  if (column > FLeftCol + FVisibleCols - 1)
    SetLeftCol(column - FVisibleCols + 1);
  else if (column < FLeftCol)
    SetLeftCol(column);
  if (caret.Line < FTopLine)
    SetTopLine(caret.Line - FVisibleLines / 2);
  else if (caret.Line > FTopLine + FVisibleLines - 1)
    SetTopLine(caret.Line + FVisibleLines / 2 - FVisibleLines + 1);
}

void TVKCustomMemo::ScrollToEnd() {
  SetTopLine(Lines().Count() - FVisibleLines);
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
  FHorzRange = std::max(FHorzRange, Lines().MaxLineLength());
  UpdateScrollBars();
  UpdateGutter();
  ScrollToEnd();
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
  FTopLine = 0;
  FLeftCol = 0;
  FHorzRange = 0;
  CloseDropList();
  if (!FRefreshPending)
    UpdateScrollBars();
}

void TVKCustomMemo::ViewLinesChanged(int first, int last) {
  if (!FRefreshPending) {
    UpdateScrollBars();
    FGutter->update();
  }
  const int lastShown = FTopLine + FVisibleLines + 1;
  const int lastChanged = last < 0 ? Lines().Count() + 1 : last;
  if (lastChanged < FTopLine || first > lastShown)
    return;
  if (lastChanged - first + 1 > 2)
    viewport()->update();
  else
    ViewRepaintLines(first, lastChanged);
}

void TVKCustomMemo::ViewMaxLineLengthChanged(int maxLineLength) {
  if (maxLineLength <= FHorzRange)
    return;
  FHorzRange = maxLineLength;
  if (!FRefreshPending)
    UpdateScrollBars();
}

QRect TVKCustomMemo::LinesRect(int first, int last) const {
  if (last < first)
    std::swap(first, last);
  const int top = (std::max(first, FTopLine) - FTopLine) * FLineHeight;
  const int bottom = (std::min(last, FTopLine + FVisibleLines + 1) - FTopLine + 1) * FLineHeight;
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

QPoint TVKCustomMemo::CellPosition(int col, int line) const {
  const int column =
      line >= 0 && line < Lines().Count() ? DisplayColumn(Lines()[line], col, TabWidth()) : col;
  return {(column - FLeftCol) * FCharWidth, (line - FTopLine) * FLineHeight};
}

TVKPos TVKCustomMemo::PositionAt(const QPoint& point) const {
  if (Lines().Empty())
    return {};
  const int line = std::clamp(FTopLine + FloorDiv(point.y(), FLineHeight), 0, Lines().Count() - 1);
  const int display = std::max(0, FLeftCol + FloorDiv(point.x(), FCharWidth));
  return {ColumnAtDisplay(Lines()[line], display, TabWidth()), line};
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
    const int line = FTopLine + row;
    const int y = row * FLineHeight;
    if (line < Lines().Count())
      PaintLine(painter, line, y);
    else
      painter.fillRect(0, y, viewport()->width(), FLineHeight, background);
  }
  PaintCaret(painter);
}

void TVKCustomMemo::PaintLine(QPainter& painter, int line, int y) {
  const QPalette& colours = palette();
  const std::string& text = Lines()[line];
  const int width = viewport()->width();
  const int tab = TabWidth();
  const QString shown = Latin1(VisibleText(text, FLeftCol, FVisibleCols + 1, tab));
  const int baseline = y + FAscent;
  auto drawText = [&](int firstChar, int count) {
    if (FFixedGrid) {
      painter.drawText(firstChar * FCharWidth, baseline, shown.mid(firstChar, count));
      return;
    }
    for (int i = firstChar; i < firstChar + count && i < shown.size(); ++i)
      painter.drawText(i * FCharWidth, baseline, shown.mid(i, 1));
  };

  painter.fillRect(0, y, width, FLineHeight, ColorToQColor(FEnvironment.TextBackground(), colours));
  painter.setPen(ColorToQColor(FEnvironment.TextColor(), colours));
  drawText(0, static_cast<int>(shown.size()));

  const TVKEditModel& model = FModel;
  if (model.SelAvail() && line >= model.SelStart().Line && line <= model.SelEnd().Line) {
    const int from =
        line == model.SelStart().Line ? DisplayColumn(text, model.SelStart().Col, tab) : 0;
    const bool lastLine = line == model.SelEnd().Line;
    // Only the visible part is laid out: on a middle line the selection simply runs
    // to the right edge, however long the line is.
    const int shownEnd = FLeftCol + static_cast<int>(shown.size());
    const int to =
        lastLine ? std::min(DisplayColumn(text, model.SelEnd().Col, tab), shownEnd) : shownEnd;
    const int first = std::max(from, FLeftCol) - FLeftCol;
    const int last = std::max(to, FLeftCol) - FLeftCol;
    const int right = lastLine ? last * FCharWidth : width;
    if (right > first * FCharWidth) {
      painter.fillRect(first * FCharWidth, y, right - first * FCharWidth, FLineHeight,
                       ColorToQColor(FEnvironment.SelectionBackground(), colours));
      painter.setPen(ColorToQColor(FEnvironment.SelectionColor(), colours));
      drawText(first, last - first);
    }
  }

  if (FRightEdge) {
    const int x = (FRightEdgeCol - FLeftCol) * FCharWidth;
    painter.setPen(ColorToQColor(FEnvironment.RightEdgeColor(), colours));
    painter.drawLine(x, y, x, y + FLineHeight - 1);
  }
}

void TVKCustomMemo::PaintCaret(QPainter& painter) {
  const TVKPos caret = FModel.Caret();
  if (!FCaretShown || ReadOnly() || caret.Line < FTopLine || caret.Line > FTopLine + FVisibleLines)
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

// --- Keyboard --------------------------------------------------------------------------

bool TVKCustomMemo::HandleShortcut(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (event->key() == Qt::Key_Insert && modifiers == Qt::ShiftModifier) {
    PasteFromClipboard();
    return true;
  }
  if (modifiers != Qt::ControlModifier)
    return false;
  switch (event->key()) {
  case Qt::Key_A:
    SelectAll();
    return true;
  case Qt::Key_C:
    CopyToClipboard();
    return true;
  case Qt::Key_V:
    PasteFromClipboard();
    return true;
  case Qt::Key_X:
    CutToClipboard();
    return true;
  case Qt::Key_Z:
    Undo();
    return true;
  case Qt::Key_Y:
    Redo();
    return true;
  default:
    return false;
  }
}

bool TVKCustomMemo::HandleEditingKey(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  switch (event->key()) {
  case Qt::Key_Backspace:
    if (modifiers & (Qt::ControlModifier | Qt::ShiftModifier))
      return false;
    FModel.KeyBackspace();
    return true;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    FModel.KeyEnter();
    return true;
  case Qt::Key_Delete:
    FModel.KeyDelete(modifiers & Qt::ShiftModifier);
    return true;
  case Qt::Key_Escape:
    if (!FDraggingSelection)
      return false;
    FDraggingSelection = false;
    FMouseDown = false;
    UpdateCursorShape(modifiers);
    return true;
  default:
    return false;
  }
}

bool TVKCustomMemo::HandleNavigationKey(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  switch (event->key()) {
  case Qt::Key_PageUp:
    SetTopLine(FTopLine - FVisibleLines);
    FModel.KeyVertical(-FVisibleLines, shift);
    return true;
  case Qt::Key_PageDown:
    SetTopLine(FTopLine + FVisibleLines);
    FModel.KeyVertical(FVisibleLines, shift);
    return true;
  case Qt::Key_Home:
    FModel.KeyHome(ctrl, shift);
    return true;
  case Qt::Key_End:
    FModel.KeyEnd(ctrl, shift);
    return true;
  case Qt::Key_Left:
    FModel.KeyLeft(ctrl, shift);
    return true;
  case Qt::Key_Right:
    FModel.KeyRight(ctrl, shift);
    return true;
  case Qt::Key_Up:
  case Qt::Key_Down: {
    const int delta = event->key() == Qt::Key_Up ? -1 : 1;
    if (ctrl)
      ScrollLines(delta);
    else
      FModel.KeyVertical(delta, shift);
    return true;
  }
  default:
    return false;
  }
}

void TVKCustomMemo::TypeText(const QString& text) {
  for (QChar c : text)
    FModel.TypeChar(ToByte(c));
}

void TVKCustomMemo::keyPressEvent(QKeyEvent* event) {
  if (OnKeyDown)
    OnKeyDown(*this, event->key(), event->modifiers());
  ResetIdle();
  const bool verticalScroll = (event->modifiers() & Qt::ControlModifier) &&
                              (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down);
  if (HandleShortcut(event) || HandleEditingKey(event) || HandleNavigationKey(event)) {
    if (!verticalScroll) {
      ScrollCaretIntoView();
      ViewShowCaret();
    }
    event->accept();
    return;
  }
  const bool tab = event->key() == Qt::Key_Tab;
  const bool typing =
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
      !event->text().isEmpty() && (!tab || (FWantTabs && !ReadOnly()));
  if (!typing) {
    event->ignore();
    return;
  }
  TypeText(event->text());
  ScrollCaretIntoView();
  ViewShowCaret();
  event->accept();
}

// --- Mouse -----------------------------------------------------------------------------

void TVKCustomMemo::UpdateCursorShape(Qt::KeyboardModifiers modifiers) {
  if (FDraggingSelection)
    viewport()->setCursor(EditorCursor(
        (modifiers & Qt::ControlModifier) ? TVKCursorKind::SelDragCopy : TVKCursorKind::SelDrag));
  else
    viewport()->setCursor(FUpdating ? Qt::WaitCursor : Qt::IBeamCursor);
}

void TVKCustomMemo::MouseDown(const QPoint& point, Qt::KeyboardModifiers modifiers, bool inGutter) {
  if (!hasFocus())
    setFocus(Qt::MouseFocusReason);
  CloseDropList();
  ResetIdle();
  const bool shift = modifiers & Qt::ShiftModifier;
  const TVKPos pos = PositionAt(point);
  FMouseDown = true;
  FPressPos = pos;
  FLastMousePoint = point;
  FLineSelecting = inGutter;
  if (!ReadOnly() && FAllowDragSelection && !inGutter && FModel.InSelection(pos)) {
    FDraggingSelection = true;
    UpdateCursorShape(modifiers);
    return;
  }
  FModel.MoveCaret(inGutter ? 0 : pos.Col, pos.Line, true, shift);
}

void TVKCustomMemo::ExtendSelectionTo(const QPoint& point) {
  const TVKPos pos = PositionAt(point);
  if (FLineSelecting)
    FModel.SelectLines(FPressPos.Line, pos.Line);
  else
    FModel.MoveCaret(pos.Col, pos.Line, false, true);
}

void TVKCustomMemo::MouseMove(const QPoint& point) {
  FLastMousePoint = point;
  if (!FMouseDown || FDraggingSelection)
    return;
  ExtendSelectionTo(point);
  if (viewport()->rect().contains(point))
    FAutoScrollTimer->Stop();
  else if (!FAutoScrollTimer->Active())
    FAutoScrollTimer->Start(AutoScrollMs);
}

void TVKCustomMemo::AutoScrollTick() {
  const QPoint point = FLastMousePoint;
  const QRect area = viewport()->rect();
  auto step = [](int distance) {
    return std::min(distance / AutoScrollPixelsPerStep + 1, AutoScrollMaxStep);
  };
  if (point.y() >= area.height())
    ScrollLines(step(point.y() - area.height()));
  else if (point.y() < 0)
    ScrollLines(-step(-point.y()));
  if (point.x() >= area.width())
    ScrollColumns(step(point.x() - area.width()));
  else if (point.x() < 0)
    ScrollColumns(-step(-point.x()));
  ExtendSelectionTo(point);
}

void TVKCustomMemo::MouseUp(const QPoint& point, Qt::KeyboardModifiers modifiers) {
  FAutoScrollTimer->Stop();
  const bool wasDown = FMouseDown;
  FMouseDown = false;
  if (FIgnoreRelease) {
    FIgnoreRelease = false;
    return;
  }
  if (!wasDown)
    return;
  const TVKPos pos = PositionAt(point);
  if (FLineSelecting) {
    FLineSelecting = false;
    if (pos.Line == FPressPos.Line)
      FModel.SelectLines(pos.Line, pos.Line);
    return;
  }
  if (!FDraggingSelection)
    return;
  FDraggingSelection = false;
  UpdateCursorShape(modifiers);
  if (!FModel.DropSelection(pos, modifiers & Qt::ControlModifier))
    FModel.MoveCaret(pos.Col, pos.Line, true, false);
  ScrollCaretIntoView();
}

void TVKCustomMemo::MouseDoubleClick(const QPoint& point) {
  FMouseDown = false;
  FDraggingSelection = false;
  FModel.SelectWordAt(PositionAt(point));
  FIgnoreRelease = true;
}

void TVKCustomMemo::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    MouseDown(event->position().toPoint(), event->modifiers(), false);
  else
    QAbstractScrollArea::mousePressEvent(event);
}

void TVKCustomMemo::mouseMoveEvent(QMouseEvent* event) {
  if (FDraggingSelection)
    UpdateCursorShape(event->modifiers());
  MouseMove(event->position().toPoint());
}

void TVKCustomMemo::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    MouseUp(event->position().toPoint(), event->modifiers());
}

void TVKCustomMemo::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    MouseDoubleClick(event->position().toPoint());
}

void TVKCustomMemo::wheelEvent(QWheelEvent* event) {
  if (Lines().Empty()) {
    event->ignore();
    return;
  }
  const QPoint angle = event->angleDelta();
  const int delta = angle.y() != 0 ? angle.y() : angle.x();
  const int steps = std::abs(delta) / WheelUnitsPerLine;
  const int direction = delta > 0 ? -1 : 1;
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  if (modifiers & Qt::ShiftModifier)
    FModel.KeyVertical(direction, false);
  else if (modifiers & Qt::ControlModifier)
    ScrollColumns(direction * steps);
  else
    ScrollLines(direction * steps);
  event->accept();
}

void TVKCustomMemo::contextMenuEvent(QContextMenuEvent* event) {
  if (!OnContextPopup) {
    event->ignore();
    return;
  }
  OnContextPopup(*this, event->globalPos());
  event->accept();
}

// --- Completion list -------------------------------------------------------------------

void TVKCustomMemo::MaybeOpenDropList() {
  const TVKPos caret = FModel.Caret();
  if (FDropListTimeDelay == 0 || FIdleMs < FDropListTimeDelay * 1000 || !hasFocus() || ReadOnly() ||
      FDropListItems.empty() || SelAvail() || DropListVisible() ||
      (caret.Line < Lines().Count() && caret.Col > Lines().LineLength(caret.Line)))
    return;
  ResetIdle();
  if (OnDropListDown)
    OnDropListDown(*this);
  const QRect area = viewport()->rect();
  const int height = (FDropListCharHeight + 1) * FLineHeight;
  const int width = (FDropListCharWidth + 1) * FCharWidth;
  const QPoint cell = CellPosition(caret.Col, caret.Line);
  int top = cell.y() + FLineHeight;
  if (top + height > area.height())
    top = cell.y() - height;
  int left = cell.x();
  if (left + width > area.width())
    left -= width;
  const QPoint origin = viewport()->mapTo(this, QPoint(left, top));
  FDropList->Open(FDropListItems, QRect(origin, QSize(width, height)));
}

void TVKCustomMemo::CloseDropList() {
  if (FDropList && FDropList->isVisible())
    FDropList->Close();
}

void TVKCustomMemo::DropListChosen(const std::string& insertText) {
  for (char c : insertText)
    FModel.TypeChar(c);
  ScrollCaretIntoView();
  ViewShowCaret();
}

} // namespace pelrow
