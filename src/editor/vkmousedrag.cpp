#include "editor/vkmousedrag.h"

namespace pelrow {

void TVKMouseDrag::Down(TVKPos pos, bool shift, bool inGutter) {
  FKeepWordOnUp = false;
  if (FKeepWordOnDown) {
    FKeepWordOnDown = false;
    return;
  }
  FButtonDown = true;
  FPressPos = pos;
  FLineSelecting = inGutter;
  if (!FModel.ReadOnly() && FAllowDragSelection && !inGutter && FModel.InSelection(pos)) {
    // The caret stays until the button comes up: a drag, or a click in the selection.
    FDraggingSelection = true;
    return;
  }
  FModel.MoveCaret(inGutter ? 0 : pos.Col, pos.Line, true, shift);
}

void TVKMouseDrag::Move(TVKPos pos) {
  if (!Selecting())
    return;
  if (FLineSelecting)
    FModel.SelectLines(FPressPos.Line, pos.Line);
  else
    FModel.MoveCaret(pos.Col, pos.Line, false, true);
}

bool TVKMouseDrag::Up(TVKPos pos, bool ctrl) {
  const bool wasDown = FButtonDown;
  FButtonDown = false;
  if (FKeepWordOnUp) {
    FKeepWordOnUp = false;
    return false;
  }
  if (!wasDown)
    return false;
  if (FLineSelecting) {
    FLineSelecting = false;
    if (pos.Line == FPressPos.Line)
      FModel.SelectLines(pos.Line, pos.Line);
    return false;
  }
  if (!FDraggingSelection)
    return false;
  FDraggingSelection = false;
  if (!FModel.DropSelection(pos, ctrl))
    FModel.MoveCaret(pos.Col, pos.Line, true, false);
  return true;
}

void TVKMouseDrag::DoubleClick(TVKPos pos) {
  FButtonDown = false;
  FDraggingSelection = false;
  FLineSelecting = false;
  FModel.SelectWordAt(pos);
  FKeepWordOnUp = true;
  FKeepWordOnDown = true;
}

bool TVKMouseDrag::CancelDrag() {
  if (!FDraggingSelection)
    return false;
  FDraggingSelection = false;
  FButtonDown = false;
  return true;
}

} // namespace pelrow
