// The editor widget's input: keys, the mouse and its drag selection, the wheel, the
// context menu and the completion list. Painting and scrolling are in veskmemo.cpp.
#include "editor/qt/veskmemo.h"

#include "editor/qt/vkdroplist.h"
#include "editor/qt/vkqtsupport.h"
#include "support/qt/latin1_text.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace pelrow {

namespace {
constexpr uint32_t AutoScrollMs = 100;

char ToByte(QChar c) {
  return c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?';
}
} // namespace

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
    if (!FDrag.CancelDrag())
      return false;
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
    SetTopLine(FWindow.TopLine - FWindow.VisibleLines);
    FModel.KeyVertical(-FWindow.VisibleLines, shift);
    return true;
  case Qt::Key_PageDown:
    SetTopLine(FWindow.TopLine + FWindow.VisibleLines);
    FModel.KeyVertical(FWindow.VisibleLines, shift);
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
  if (FDrag.DraggingSelection())
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
  FLastMousePoint = point;
  FDrag.Down(PositionAt(point), modifiers & Qt::ShiftModifier, inGutter);
  if (FDrag.DraggingSelection())
    UpdateCursorShape(modifiers);
}

void TVKCustomMemo::MouseMove(const QPoint& point) {
  FLastMousePoint = point;
  if (!FDrag.Selecting())
    return;
  FDrag.Move(PositionAt(point));
  if (viewport()->rect().contains(point))
    FAutoScrollTimer->Stop();
  else if (!FAutoScrollTimer->Active())
    FAutoScrollTimer->Start(AutoScrollMs);
}

void TVKCustomMemo::AutoScrollTick() {
  const QPoint point = FLastMousePoint;
  const QRect area = viewport()->rect();
  const int lines = AutoScrollStep(point.y(), area.height());
  const int columns = AutoScrollStep(point.x(), area.width());
  if (lines != 0)
    ScrollLines(lines);
  if (columns != 0)
    ScrollColumns(columns);
  FDrag.Move(PositionAt(point));
}

void TVKCustomMemo::MouseUp(const QPoint& point, Qt::KeyboardModifiers modifiers) {
  FAutoScrollTimer->Stop();
  const bool wasDragging = FDrag.DraggingSelection();
  const bool caretMoved = FDrag.Up(PositionAt(point), modifiers & Qt::ControlModifier);
  if (wasDragging)
    UpdateCursorShape(modifiers);
  if (caretMoved)
    ScrollCaretIntoView();
}

void TVKCustomMemo::MouseDoubleClick(const QPoint& point) {
  FDrag.DoubleClick(PositionAt(point));
}

void TVKCustomMemo::GutterMouseDown(const QPoint& point, Qt::KeyboardModifiers modifiers) {
  MouseDown(point, modifiers, true);
}

void TVKCustomMemo::GutterMouseUp(const QPoint& point, Qt::KeyboardModifiers modifiers) {
  MouseUp(point, modifiers);
}

void TVKCustomMemo::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    MouseDown(event->position().toPoint(), event->modifiers(), false);
  else
    QAbstractScrollArea::mousePressEvent(event);
}

void TVKCustomMemo::mouseMoveEvent(QMouseEvent* event) {
  if (FDrag.DraggingSelection())
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
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  const TVKWheelAction action = FWheel.Turn(angle.x(), angle.y(), modifiers & Qt::ControlModifier,
                                            modifiers & Qt::ShiftModifier);
  if (action.CaretLines != 0)
    FModel.KeyVertical(action.CaretLines, false);
  if (action.Columns != 0)
    ScrollColumns(action.Columns);
  if (action.Lines != 0)
    ScrollLines(action.Lines);
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
