// The scrolling arithmetic of the editor view, in lines and display columns: which part
// of the text is on screen, where the view goes to show the caret, how far a drag
// outside the box scrolls per tick, and how wheel turns become lines and columns. The
// widget only moves pixels by what these say.
#pragma once

namespace pelrow {

// The part of the text on screen.
struct TVKViewWindow {
  int TopLine = 0;
  int LeftCol = 0;
  int VisibleLines = 0;
  int VisibleCols = 0;
  // The widest display column the view scrolls to: the longest line, or a caret seen
  // further right.
  int HorzRange = 0;

  // The top line that shows the last page; 0 while everything fits.
  int MaxTopLine(int lineCount) const;
  int ClampTopLine(int line, int lineCount) const;
  int ClampLeftCol(int col) const;
  // The top line and left column that show a caret at (line, display column): a caret
  // past either horizontal edge becomes the edge column; a caret above or below the
  // page is centred vertically. Unclamped.
  TVKViewWindow ShowingCaret(int caretLine, int caretDisplayCol) const;
};

// A grid cell under a point of the text area, counted from the top left cell on screen;
// points above or left of the text give negative cells.
struct TVKCell {
  int Col = 0;
  int Line = 0;
};
TVKCell CellAtPoint(int x, int y, int charWidth, int lineHeight);

// Lines (or columns) one auto-scroll tick moves while the pointer is held at position
// pos outside an area of the given extent along the same axis: one more for every 30
// pixels outside, at most 6, negative before the area, 0 inside it.
int AutoScrollStep(int pos, int extent);

// What a turn of the wheel does to the view.
struct TVKWheelAction {
  int Lines = 0;      // scroll the view; positive: down
  int Columns = 0;    // scroll the view; positive: right
  int CaretLines = 0; // move the caret; positive: down
};

// Turns wheel angles (in eighths of a degree, 120 to a standard notch; positive turns
// away from the user or to the left) into lines and columns: 40 to a line or column,
// one caret line to a notch with Shift, columns with Ctrl. Fine-grained wheels and
// touchpads deliver a notch in many small turns, so what does not yet make a whole
// step is kept for the next turn in the same direction: the same total angle moves the
// same distance however it arrives.
class TVKWheel {
public:
  TVKWheelAction Turn(int angleX, int angleY, bool ctrl, bool shift);

private:
  int FLinesRest = 0;
  int FColumnsRest = 0;
  int FCaretRest = 0;
};

} // namespace pelrow
