// What the left mouse button does to the text: placing the caret, extending the
// selection while the button is held, whole-line selection from the gutter, dragging
// the selection to move or copy it, and the double-click word, which the button-up and
// the next button-down after it leave alone. Positions come in as text positions; the
// widget converts pixels and scrolls.
#pragma once

#include "editor/vkeditmodel.h"

namespace pelrow {

class TVKMouseDrag {
public:
  explicit TVKMouseDrag(TVKEditModel& model) : FModel(model) {}

  bool AllowDragSelection() const { return FAllowDragSelection; }
  void SetAllowDragSelection(bool value) { FAllowDragSelection = value; }

  // The button went down at pos; inGutter selects whole lines.
  void Down(TVKPos pos, bool shift, bool inGutter);
  // The pointer is at pos with the button held (also after each auto-scroll step).
  void Move(TVKPos pos);
  // The button came up at pos; ctrl copies a dragged selection instead of moving it.
  // True when the caret moved and should be brought into view.
  bool Up(TVKPos pos, bool ctrl);
  void DoubleClick(TVKPos pos);
  // Escape ends a drag of the selection; false when none was under way.
  bool CancelDrag();

  // The button is held and the selection follows the pointer (auto-scroll applies).
  bool Selecting() const { return FButtonDown && !FDraggingSelection; }
  bool DraggingSelection() const { return FDraggingSelection; }

private:
  TVKEditModel& FModel;
  bool FAllowDragSelection = true;
  bool FButtonDown = false;
  bool FLineSelecting = false;
  bool FDraggingSelection = false;
  // After a double-click: its button-up and the next button-down keep the word.
  bool FKeepWordOnUp = false;
  bool FKeepWordOnDown = false;
  TVKPos FPressPos;
};

} // namespace pelrow
