// Scrolling arithmetic of the editor view: showing the caret, cells under points,
// auto-scroll steps and wheel turns.
#include "editor/vkscroll.h"

#include <gtest/gtest.h>

#include <utility>

namespace pelrow {
namespace {

TVKViewWindow Window(int top, int left) {
  TVKViewWindow window;
  window.TopLine = top;
  window.LeftCol = left;
  window.VisibleLines = 10;
  window.VisibleCols = 40;
  window.HorzRange = 100;
  return window;
}

std::pair<int, int> Showing(const TVKViewWindow& window, int line, int col) {
  const TVKViewWindow shown = window.ShowingCaret(line, col);
  return {shown.TopLine, shown.LeftCol};
}

TEST(ViewWindow, ACaretOffThePageIsCentredAndOneOffTheSideBecomesTheEdge) {
  const TVKViewWindow window = Window(20, 10);
  EXPECT_EQ(Showing(window, 25, 20), std::make_pair(20, 10)); // already visible
  EXPECT_EQ(Showing(window, 30, 20), std::make_pair(26, 10)); // half a page above the bottom
  EXPECT_EQ(Showing(window, 12, 20), std::make_pair(7, 10));
  EXPECT_EQ(Showing(window, 25, 50), std::make_pair(20, 11)); // the last visible column
  EXPECT_EQ(Showing(window, 25, 3), std::make_pair(20, 3));
}

TEST(ViewWindow, TheViewStaysOnTheText) {
  const TVKViewWindow window = Window(0, 0);
  EXPECT_EQ(window.MaxTopLine(5), 0); // fewer lines than fit: the first stays on top
  EXPECT_EQ(window.ClampTopLine(95, 100), 90);
  EXPECT_EQ(window.ClampTopLine(-4, 100), 0);
  EXPECT_EQ(window.ClampLeftCol(150), 100);
  EXPECT_EQ(window.ClampLeftCol(-1), 0);
}

TEST(ViewWindow, PointsLeftOfOrAboveTheTextAreInNegativeCells) {
  EXPECT_EQ(CellAtPoint(15, 33, 7, 16).Col, 2);
  EXPECT_EQ(CellAtPoint(15, 33, 7, 16).Line, 2);
  EXPECT_EQ(CellAtPoint(-1, -1, 7, 16).Col, -1);
  EXPECT_EQ(CellAtPoint(-1, -17, 7, 16).Line, -2);
}

TEST(AutoScroll, OneMoreStepForEveryThirtyPixelsOutsideAtMostSix) {
  EXPECT_EQ(AutoScrollStep(300 + 95, 300), 4);
  EXPECT_EQ(AutoScrollStep(300, 300), 1); // the first pixel below
  EXPECT_EQ(AutoScrollStep(299, 300), 0);
  EXPECT_EQ(AutoScrollStep(0, 300), 0);
  EXPECT_EQ(AutoScrollStep(-1, 300), -1);
  EXPECT_EQ(AutoScrollStep(-60, 300), -3);
  EXPECT_EQ(AutoScrollStep(300 + 1000, 300), 6);
  EXPECT_EQ(AutoScrollStep(-1000, 300), -6);
}

// Sums the lines that a series of turns scrolls.
int LinesFor(TVKWheel& wheel, int turns, int angle) {
  int lines = 0;
  for (int i = 0; i < turns; ++i)
    lines += wheel.Turn(0, angle, false, false).Lines;
  return lines;
}

TEST(Wheel, TheSameTotalAngleScrollsTheSameLinesHoweverItArrives) {
  TVKWheel notch;
  EXPECT_EQ(LinesFor(notch, 1, -120), 3);
  EXPECT_EQ(LinesFor(notch, 1, 240), -6);
  for (int piece : {1, 5, 15, 24, 30, 60}) {
    TVKWheel fine;
    EXPECT_EQ(LinesFor(fine, 120 / piece, -piece), 3) << piece;
    EXPECT_EQ(LinesFor(fine, 120 / piece, piece), -3) << piece;
  }
  TVKWheel uneven;
  EXPECT_EQ(LinesFor(uneven, 1, -50) + LinesFor(uneven, 1, -70), 3);
}

TEST(Wheel, TurningBackStartsFromNothing) {
  TVKWheel wheel;
  EXPECT_EQ(LinesFor(wheel, 1, -30), 0);
  EXPECT_EQ(LinesFor(wheel, 1, 30), 0); // does not just cancel the rest
  EXPECT_EQ(LinesFor(wheel, 1, 10), -1);
}

TEST(Wheel, SidewaysAndCtrlTurnsScrollColumnsShiftMovesTheCaretByNotches) {
  TVKWheel wheel;
  TVKWheelAction action = wheel.Turn(-120, 0, false, false);
  EXPECT_EQ(action.Columns, 3);
  EXPECT_EQ(action.Lines, 0);
  action = wheel.Turn(0, 120, true, false);
  EXPECT_EQ(action.Columns, -3); // left for a turn away from the user
  EXPECT_EQ(action.Lines, 0);
  action = wheel.Turn(-45, -60, false, false); // a touchpad moving both ways
  EXPECT_EQ(action.Columns, 1);
  EXPECT_EQ(action.Lines, 1);

  int caret = 0;
  for (int i = 0; i < 8; ++i)
    caret += wheel.Turn(0, -15, false, true).CaretLines;
  EXPECT_EQ(caret, 1);
  EXPECT_EQ(wheel.Turn(0, 120, false, true).CaretLines, -1);
  EXPECT_EQ(wheel.Turn(0, 120, false, true).Lines, 0);
}

} // namespace
} // namespace pelrow
