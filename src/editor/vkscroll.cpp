#include "editor/vkscroll.h"

#include <algorithm>
#include <cstdlib>

namespace pelrow {

namespace {
constexpr int AutoScrollPixelsPerStep = 30;
constexpr int AutoScrollMaxStep = 6;
constexpr int WheelUnitsPerStep = 40;
constexpr int WheelUnitsPerNotch = 120;

// Floor division, so that points above or left of the text give negative cells.
int FloorDiv(int value, int divisor) {
  return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

// Adds a turn to what is left of earlier ones and takes out the whole units; a turn
// against the direction of the rest starts afresh, so reversing responds at once.
int TakeUnits(int& rest, int angle, int unit) {
  if ((rest > 0 && angle < 0) || (rest < 0 && angle > 0))
    rest = 0;
  rest += angle;
  const int units = rest / unit;
  rest -= units * unit;
  return units;
}
} // namespace

int TVKViewWindow::MaxTopLine(int lineCount) const {
  return std::max(0, lineCount - VisibleLines);
}

int TVKViewWindow::ClampTopLine(int line, int lineCount) const {
  return std::clamp(line, 0, MaxTopLine(lineCount));
}

int TVKViewWindow::ClampLeftCol(int col) const {
  return std::clamp(col, 0, std::max(0, HorzRange));
}

TVKViewWindow TVKViewWindow::ShowingCaret(int caretLine, int caretDisplayCol) const {
  TVKViewWindow shown = *this;
  if (caretDisplayCol > LeftCol + VisibleCols - 1)
    shown.LeftCol = caretDisplayCol - VisibleCols + 1;
  else if (caretDisplayCol < LeftCol)
    shown.LeftCol = caretDisplayCol;
  if (caretLine < TopLine)
    shown.TopLine = caretLine - VisibleLines / 2;
  else if (caretLine > TopLine + VisibleLines - 1)
    shown.TopLine = caretLine + VisibleLines / 2 - VisibleLines + 1;
  return shown;
}

TVKCell CellAtPoint(int x, int y, int charWidth, int lineHeight) {
  return {FloorDiv(x, std::max(1, charWidth)), FloorDiv(y, std::max(1, lineHeight))};
}

int AutoScrollStep(int pos, int extent) {
  auto step = [](int distance) {
    return std::min(distance / AutoScrollPixelsPerStep + 1, AutoScrollMaxStep);
  };
  if (pos >= extent)
    return step(pos - extent);
  if (pos < 0)
    return -step(-pos);
  return 0;
}

TVKWheelAction TVKWheel::Turn(int angleX, int angleY, bool ctrl, bool shift) {
  TVKWheelAction action;
  if (shift) {
    const int angle = angleY != 0 ? angleY : angleX;
    action.CaretLines = -TakeUnits(FCaretRest, angle, WheelUnitsPerNotch);
    return action;
  }
  // With Ctrl the wheel scrolls sideways; a sideways turn always does.
  const int sideways = angleX + (ctrl ? angleY : 0);
  if (sideways != 0)
    action.Columns = -TakeUnits(FColumnsRest, sideways, WheelUnitsPerStep);
  if (!ctrl && angleY != 0)
    action.Lines = -TakeUnits(FLinesRest, angleY, WheelUnitsPerStep);
  return action;
}

} // namespace pelrow
