// What the editor widget shows: scrolling to the end, the deferred refresh, which
// scroll bars appear, and how tabs and control codes are drawn; plus one rendered
// screen checked pixel by pixel for selection, gutter numbers and the right edge.
#include "memo_fixture.h"

#include <QFontInfo>
#include <QImage>

#include <algorithm>

namespace pelrow {
namespace {

using Display = MemoTest;

QImage Render(QWidget* widget) {
  return widget->grab().toImage();
}

TEST_F(Display, ScrollToEndWithFewLinesKeepsTheFirstLineOnTop) {
  SetLines(3);
  Memo->ScrollToEnd();
  EXPECT_EQ(Memo->TopLine(), 0);
  EXPECT_EQ(Memo->Caret().Line, 2);
  SetLines(100);
  Memo->ScrollToEnd();
  EXPECT_EQ(Memo->TopLine(), 100 - Memo->VisibleLines());
}

TEST_F(Display, DeferRefreshCoalescesAppendsIntoOneRefresh) {
  Memo->SetScrollbars(TVKScrolls::sbBoth);
  SetLines(5);
  Memo->DeferRefresh();
  const int rangeBefore = Memo->verticalScrollBar()->maximum();
  for (int i = 0; i < 100; ++i) {
    Memo->AppendText("F0 7E 7F 06 01 F7\r\n");
    Memo->DeferRefresh();
  }
  EXPECT_EQ(RefreshTimer().Starts, 1);
  EXPECT_EQ(RefreshTimer().Interval, 30u);
  EXPECT_EQ(Memo->verticalScrollBar()->maximum(), rangeBefore);
  RefreshTimer().Fire();
  EXPECT_FALSE(RefreshTimer().Active());
  const int count = Memo->Lines().Count();
  EXPECT_EQ(Memo->verticalScrollBar()->maximum(), count - Memo->VisibleLines());
  EXPECT_EQ(Memo->TopLine(), count - Memo->VisibleLines());
  EXPECT_EQ(Memo->Caret().Line, count - 1);
}

TEST_F(Display, TheDeferredRefreshRestoresTheCursorAfterAnUpdate) {
  SetLines(5);
  Memo->Lines().BeginUpdate();
  EXPECT_EQ(View()->cursor().shape(), Qt::WaitCursor);
  Memo->DeferRefresh();
  Memo->Lines().Add("F0 7E 7F 06 01 F7");
  Memo->Lines().EndUpdate();
  RefreshTimer().Fire();
  EXPECT_EQ(View()->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(Display, ScrollbarsVerticalNeverShowsTheHorizontalBar) {
  Memo->SetScrollbars(TVKScrolls::sbVertical);
  Memo->Lines().SetText(std::string(500, 'A') + "\r\nshort");
  QApplication::processEvents();
  EXPECT_FALSE(Memo->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(Memo->verticalScrollBar()->isVisible());
  EXPECT_FALSE(Memo->verticalScrollBar()->isEnabled()); // nothing to scroll
  Memo->SetScrollbars(TVKScrolls::sbBoth);
  QApplication::processEvents();
  EXPECT_TRUE(Memo->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(Memo->horizontalScrollBar()->isEnabled());
}

TEST_F(Display, ControlCodesDrawAsDotsAndTabsReachTheNextStop) {
  Memo->clearFocus(); // no caret in the pictures
  Memo->Lines().SetText(std::string("a\x07") + "\r\n\tX");
  const QImage drawn = Render(View());
  Memo->Lines().SetText("a.\r\n        X");
  const QImage expected = Render(View());
  EXPECT_EQ(drawn, expected);
}

TEST_F(Display, ScreenshotShowsSelectionGutterNumbersAndRightEdge) {
  Memo->clearFocus();
  Memo->SetFont(QFont("DejaVu Sans Mono", 10)); // the usual desktop monospace
  Memo->EnvironmentOptions().SetTextBackground(0xFFFFFF);
  Memo->EnvironmentOptions().SetTextColor(0x000000);
  Memo->GutterOptions().SetVisible(true);
  Memo->GutterOptions().SetShowLineNum(true);
  Memo->GutterOptions().SetWidth(40);
  Memo->GutterOptions().SetColor(0x00FF00);     // green
  Memo->GutterOptions().SetFontColor(0x0000FF); // red
  Memo->SetRightEdge(true);
  Memo->SetRightEdgeCol(20);
  Memo->Lines().SetText("F0 43 10 4C 00 00 7E 00 F7\r\nline two\r\nline three");
  Memo->SetSelection(3, 0, 5, 0); // "43"
  QImage shot = Render(Memo.get());
  const QPoint origin = Memo->viewport()->geometry().topLeft();
  const int cw = Memo->CharWidth();
  const int lh = Memo->LineHeight();
  auto at = [&](int x, int y) { return QColor(shot.pixel(origin + QPoint(x, y))); };

  // Selection: blue background across the selected cells, white elsewhere.
  EXPECT_EQ(at(3 * cw, lh / 2 - 4), QColor(0, 0, 255)) << "selection background";
  EXPECT_EQ(at(1 * cw, 1), QColor(255, 255, 255)) << "unselected background";
  // Right edge: a grey line at column 20 on every text row and below the text.
  EXPECT_EQ(at(20 * cw, lh / 2), QColor(128, 128, 128)) << "right edge";
  EXPECT_EQ(at(20 * cw, lh + 1), QColor(128, 128, 128));
  // Gutter: green panel with red number pixels in the first three rows only.
  const QRect gutter = Memo->Gutter().geometry();
  EXPECT_EQ(QColor(shot.pixel(gutter.left() + 1, gutter.top() + 1)), QColor(0, 255, 0));
  auto redPixels = [&](int row) {
    int red = 0;
    for (int y = row * lh; y < (row + 1) * lh; ++y)
      for (int x = gutter.left(); x < gutter.right() - 4; ++x)
        if (QColor(shot.pixel(x, gutter.top() + y)).red() > 200 &&
            QColor(shot.pixel(x, gutter.top() + y)).green() < 100)
          ++red;
    return red;
  };
  EXPECT_GT(redPixels(0), 0) << "number 1";
  EXPECT_GT(redPixels(2), 0) << "number 3";
  EXPECT_EQ(redPixels(3), 0) << "no number past the last line";
  Memo->GutterOptions().SetZeroStart(true);
  shot = Render(Memo.get());
  EXPECT_GT(redPixels(2), 0) << "number 2";
  EXPECT_EQ(redPixels(3), 0) << "numbering from 0 adds no number past the last line";
}

// The columns of a band of rows that hold pixels of some kind: glyph ink is
// anti-aliased, so it is told by its strongest pixels, not by one exact colour.
struct TInk {
  int Left = -1;
  int Right = -1; // just after the last column found
  bool Any() const { return Left >= 0; }
};
template <typename TIsInk>
TInk InkOf(const QImage& shot, int top, int height, int fromX, int toX, TIsInk isInk) {
  TInk ink;
  for (int x = std::max(0, fromX); x < std::min(toX, shot.width()); ++x)
    for (int y = top; y < top + height; ++y)
      if (isInk(QColor(shot.pixel(x, y)))) {
        if (!ink.Any())
          ink.Left = x;
        ink.Right = x + 1;
        break;
      }
  return ink;
}
bool IsBlue(QColor c) {
  return c == QColor(0, 0, 255);
}
bool IsBlackInk(QColor c) { // black glyph ink on white or on blue
  return c.red() < 100 && c.green() < 100 && c.blue() < 100;
}
// The black ink of one character cell from column dxFrom on, "#" for ink, one row of
// the cell after the other.
std::string CellInk(const QImage& shot, int cellX, int dxFrom, int cw, int lh) {
  std::string ink;
  for (int y = 0; y < lh; ++y) {
    for (int dx = dxFrom; dx < cw; ++dx)
      ink += IsBlackInk(QColor(shot.pixel(cellX + dx, y))) ? '#' : '.';
    ink += '/';
  }
  return ink;
}
bool IsYellowInk(QColor c) { // yellow glyph ink on blue
  return c.red() > 160 && c.green() > 160 && c.blue() < 100;
}

// DejaVu Sans Mono advances a fractional number of pixels per character; the glyphs
// must still sit in the cells that caret, selection and mouse use, far into the line.
TEST_F(Display, GlyphsCaretAndSelectionShareTheGridWithAFractionalAdvanceFont) {
  for (int points : {8, 10}) {
    SCOPED_TRACE(points);
    QFont font("DejaVu Sans Mono", points);
    Memo->SetFont(font);
    ASSERT_EQ(QFontInfo(Memo->Font()).family(), "DejaVu Sans Mono");
    Memo->resize(120 * Memo->CharWidth(), 5 * Memo->LineHeight());
    Memo->EnvironmentOptions().SetTextBackground(0xFFFFFF);
    Memo->EnvironmentOptions().SetTextColor(0x000000);
    Memo->EnvironmentOptions().SetSelectionBackground(0xFF0000); // blue
    Memo->EnvironmentOptions().SetSelectionColor(0x00FFFF);      // yellow
    // Every cell but the rest of the two words holds an "M", so that any drift adds up
    // before each word and every "M" can be compared with the one in cell 1 (cell 0
    // may hold the caret).
    const std::string word = "MIDIX";
    const std::string line = std::string(40, 'M') + word + std::string(35, 'M') + word + "MM";
    Memo->Lines().SetText(line);
    const int cw = Memo->CharWidth();
    const int lh = Memo->LineHeight();
    for (int col : {40, 80}) {
      SCOPED_TRACE(col);
      Memo->setFocus();
      Memo->SetSelection(col, 0, col + 5, 0);
      QImage shot = Render(View());
      const std::string m = CellInk(shot, cw, 0, cw, lh);
      // The selection background covers exactly the five cells of the word, and its
      // glyphs are drawn inside it in the selection colour.
      const TInk band = InkOf(shot, 0, 1, 0, shot.width(), IsBlue);
      EXPECT_EQ(band.Left, col * cw);
      EXPECT_EQ(band.Right, (col + 5) * cw);
      const TInk selected = InkOf(shot, 0, lh, 0, shot.width(), IsYellowInk);
      ASSERT_TRUE(selected.Any());
      EXPECT_GE(selected.Left, col * cw);
      EXPECT_LE(selected.Right, (col + 5) * cw);
      // The unselected neighbours on both sides sit in their cells as in cell 1.
      EXPECT_EQ(CellInk(shot, (col - 1) * cw, 0, cw, lh), m) << "left of the selection";
      EXPECT_EQ(CellInk(shot, (col + 5) * cw, 0, cw, lh), m) << "right of the selection";

      // The caret before the word sits on its cell's left edge, and the word's "M"
      // beside it is drawn as the one in cell 1.
      Memo->MoveCaret(col, 0, false, false);
      shot = Render(View());
      const TInk caret = InkOf(shot, lh - 1, 1, 0, shot.width(), IsBlackInk);
      EXPECT_EQ(caret.Left, col * cw);
      EXPECT_EQ(caret.Right, col * cw + 2);
      EXPECT_EQ(CellInk(shot, col * cw, 2, cw, lh), CellInk(shot, cw, 2, cw, lh));
    }
  }
}

TEST_F(Display, RemovingLinesBelowTheViewBringsTheTextBack) {
  SetLines(200);
  Memo->SetTopLine(150);
  Memo->MoveCaret(0, 180, false, false);
  Memo->Lines().BeginUpdate();
  while (Memo->Lines().Count() > 5)
    Memo->Lines().Delete(Memo->Lines().Count() - 1);
  Memo->Lines().EndUpdate();
  EXPECT_EQ(Memo->TopLine(), 0);
  EXPECT_EQ(Memo->Caret().Line, 4);
}

} // namespace
} // namespace pelrow
