// What the editor widget shows: scrolling to the end, the deferred refresh, which
// scroll bars appear, and how tabs and control codes are drawn; plus one rendered
// screen checked pixel by pixel for selection, gutter numbers and the right edge.
#include "memo_fixture.h"

#include <QImage>

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
