// The editor widget driven by mouse events: placing the caret, Shift extension,
// double-click words, gutter line selection, dragging the selection (move and copy),
// auto-scroll while dragging outside, and the wheel.
#include "memo_fixture.h"

#include <QWheelEvent>

namespace pelrow {
namespace {

using Mouse = MemoTest;

void Wheel(QWidget* target, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF at(10, 10);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}
void Wheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  Wheel(target, QPoint(0, delta), modifiers);
}

TEST_F(Mouse, ClickPlacesTheCaretAndShiftClickSelects) {
  Memo->Lines().SetText("F0 43 10\r\nF7");
  QTest::mouseClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(3, 0));
  EXPECT_EQ(Memo->Caret(), (TVKPos{3, 0}));
  QTest::mouseClick(View(), Qt::LeftButton, Qt::ShiftModifier, Cell(1, 1));
  EXPECT_EQ(Memo->SelText(), "43 10\r\nF");
}

TEST_F(Mouse, DraggingSelectsFromThePressPoint) {
  Memo->Lines().SetText("0123456789");
  QTest::mousePress(View(), Qt::LeftButton, Qt::NoModifier, Cell(2, 0));
  QTest::mouseMove(View(), Cell(6, 0));
  QTest::mouseRelease(View(), Qt::LeftButton, Qt::NoModifier, Cell(6, 0));
  EXPECT_EQ(Memo->SelText(), "2345");
}

TEST_F(Mouse, DoubleClickSelectsTheWordAndTheReleaseKeepsIt) {
  Memo->Lines().SetText("F0 43 10 F7");
  QTest::mouseDClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(4, 0));
  EXPECT_EQ(Memo->SelText(), "43");
  QTest::mouseDClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(11, 0));
  EXPECT_EQ(Memo->SelText(), "F7");
}

TEST_F(Mouse, TheClickAfterADoubleClickKeepsTheWordAndTheNextOneMovesTheCaret) {
  Memo->Lines().SetText("F0 43 10 F7");
  QTest::mouseDClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(4, 0));
  QTest::mouseClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(4, 0));
  EXPECT_EQ(Memo->SelText(), "43");
  QTest::mouseClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(9, 0));
  EXPECT_FALSE(Memo->SelAvail());
  EXPECT_EQ(Memo->Caret(), (TVKPos{9, 0}));

  QTest::mouseDClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(10, 0));
  QTest::mouseClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(1, 0)); // outside the word
  EXPECT_EQ(Memo->SelText(), "F7");
}

TEST_F(Mouse, GutterClickSelectsWholeLines) {
  Memo->GutterOptions().SetVisible(true);
  Memo->Lines().SetText("first\r\nsecond\r\nthird");
  TVKGutter& gutter = Memo->Gutter();
  const int y1 = Memo->LineHeight() + Memo->LineHeight() / 2;
  QTest::mouseClick(&gutter, Qt::LeftButton, Qt::NoModifier, QPoint(5, y1));
  EXPECT_EQ(Memo->SelText(), "second\r\n");
  QTest::mousePress(&gutter, Qt::LeftButton, Qt::NoModifier, QPoint(5, Memo->LineHeight() / 2));
  QTest::mouseMove(&gutter, QPoint(5, 2 * Memo->LineHeight() + 2));
  QTest::mouseRelease(&gutter, Qt::LeftButton, Qt::NoModifier,
                      QPoint(5, 2 * Memo->LineHeight() + 2));
  EXPECT_EQ(Memo->SelText(), "first\r\nsecond\r\nthird");
}

TEST_F(Mouse, DraggingTheSelectionMovesItAndUndoRestores) {
  Memo->Lines().SetText("one two three");
  Memo->SetSelection(0, 0, 4, 0);
  QTest::mousePress(View(), Qt::LeftButton, Qt::NoModifier, Cell(1, 0));
  QTest::mouseMove(View(), Cell(8, 0));
  QTest::mouseRelease(View(), Qt::LeftButton, Qt::NoModifier, Cell(8, 0));
  EXPECT_EQ(Text(), "two one three");
  EXPECT_EQ(Memo->SelText(), "one ");
  QTest::keyClick(Memo.get(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(Memo.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(), "one two three");
}

TEST_F(Mouse, CtrlDragCopiesTheSelection) {
  Memo->Lines().SetText("abc def");
  Memo->SetSelection(0, 0, 3, 0);
  QTest::mousePress(View(), Qt::LeftButton, Qt::ControlModifier, Cell(1, 0));
  QTest::mouseMove(View(), Cell(5, 0));
  QTest::mouseRelease(View(), Qt::LeftButton, Qt::ControlModifier, Cell(5, 0));
  EXPECT_EQ(Text(), "abc dabcef");
  QTest::keyClick(Memo.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(), "abc def");
}

TEST_F(Mouse, ClickInsideTheSelectionWithoutDraggingEndsIt) {
  Memo->Lines().SetText("abcdef");
  Memo->SetSelection(1, 0, 5, 0);
  QTest::mouseClick(View(), Qt::LeftButton, Qt::NoModifier, Cell(3, 0));
  EXPECT_FALSE(Memo->SelAvail());
  EXPECT_EQ(Memo->Caret(), (TVKPos{3, 0}));
  EXPECT_EQ(Text(), "abcdef");
}

TEST_F(Mouse, DraggingBelowTheBoxAutoScrollsByDistance) {
  SetLines(200);
  QTest::mousePress(View(), Qt::LeftButton, Qt::NoModifier, Cell(0, 0));
  const QPoint below(10, View()->height() + 95);
  QTest::mouseMove(View(), below);
  ASSERT_TRUE(AutoScrollTimer().Active());
  EXPECT_EQ(AutoScrollTimer().Interval, 100u);
  AutoScrollTimer().Fire();
  EXPECT_EQ(Memo->TopLine(), 4);
  AutoScrollTimer().Fire();
  EXPECT_EQ(Memo->TopLine(), 8);
  EXPECT_TRUE(Memo->SelAvail());
  QTest::mouseRelease(View(), Qt::LeftButton, Qt::NoModifier, below);
  EXPECT_FALSE(AutoScrollTimer().Active());
}

TEST_F(Mouse, WheelScrollsLinesColumnsOrMovesTheCaret) {
  SetLines(100);
  Memo->Lines().Put(0, std::string(300, 'x'));
  Memo->SetScrollbars(TVKScrolls::sbBoth); // a box scrolls sideways only with its bar
  Wheel(View(), -120);
  EXPECT_EQ(Memo->TopLine(), 3);
  Wheel(View(), 240);
  EXPECT_EQ(Memo->TopLine(), 0);
  Wheel(View(), -120, Qt::ControlModifier);
  EXPECT_EQ(Memo->LeftCol(), 3);
  Wheel(View(), -120, Qt::ShiftModifier);
  EXPECT_EQ(Memo->Caret().Line, 1);
}

TEST_F(Mouse, FineWheelStepsAddUpAndSidewaysTurnsScrollColumns) {
  SetLines(100);
  Memo->Lines().Put(0, std::string(300, 'x'));
  Memo->SetScrollbars(TVKScrolls::sbBoth); // a box scrolls sideways only with its bar
  for (int i = 0; i < 8; ++i)
    Wheel(View(), -15);
  EXPECT_EQ(Memo->TopLine(), 3); // the same as one notch of -120
  for (int i = 0; i < 6; ++i)
    Wheel(View(), 20);
  EXPECT_EQ(Memo->TopLine(), 0);
  for (int i = 0; i < 4; ++i)
    Wheel(View(), QPoint(-30, 0));
  EXPECT_EQ(Memo->LeftCol(), 3);
  EXPECT_EQ(Memo->TopLine(), 0);
  for (int i = 0; i < 8; ++i)
    Wheel(View(), -15, Qt::ShiftModifier);
  EXPECT_EQ(Memo->Caret().Line, 1); // one notch moves the caret one line
}

} // namespace
} // namespace pelrow
