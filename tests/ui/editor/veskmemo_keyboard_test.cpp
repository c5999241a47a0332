// The editor widget driven by key events: typing, editing keys, navigation with its
// word rules, Shift selection, shortcuts and the completion list.
#include "memo_fixture.h"

#include "editor/qt/vkdroplist.h"

namespace pelrow {
namespace {

using Keyboard = MemoTest;

TEST_F(Keyboard, TypingEnterAndBackspaceEditTheLines) {
  QTest::keyClicks(Memo.get(), "F0 7E");
  QTest::keyClick(Memo.get(), Qt::Key_Return);
  QTest::keyClicks(Memo.get(), "F7x");
  QTest::keyClick(Memo.get(), Qt::Key_Backspace);
  EXPECT_EQ(Text(), "F0 7E\r\nF7");
  QTest::keyClick(Memo.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(), "F0 7E\r\nF7x");
  QTest::keyClick(Memo.get(), Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(Text(), "F0 7E\r\nF7");
}

TEST_F(Keyboard, TabTypesATabOnlyWhenWanted) {
  QTest::keyClick(Memo.get(), Qt::Key_Tab);
  EXPECT_EQ(Text(), "\t");
  Memo->SetWantTabs(false);
  QTest::keyClick(Memo.get(), Qt::Key_Tab);
  EXPECT_EQ(Text(), "\t");
}

TEST_F(Keyboard, ReadOnlyIgnoresEditsButAllowsCopy) {
  Memo->Lines().SetText("log line");
  Memo->SetReadOnly(true);
  QTest::keyClicks(Memo.get(), "xy");
  QTest::keyClick(Memo.get(), Qt::Key_Delete);
  QTest::keyClick(Memo.get(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(Memo.get(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Text(), "log line");
  EXPECT_EQ(Clipboard->Text(), "log line");
}

TEST_F(Keyboard, CtrlArrowsMoveByWords) {
  Memo->Lines().SetText("F0 43   10 F7\r\nnext");
  Memo->MoveCaret(4, 0, true, false);
  QTest::keyClick(Memo.get(), Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret(), (TVKPos{3, 0}));
  Memo->MoveCaret(6, 0, true, false); // on the blanks between two words
  QTest::keyClick(Memo.get(), Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret(), (TVKPos{8, 0}));
  QTest::keyClick(Memo.get(), Qt::Key_End);
  QTest::keyClick(Memo.get(), Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret(), (TVKPos{0, 1}));
  QTest::keyClick(Memo.get(), Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret(), (TVKPos{13, 0}));
}

TEST_F(Keyboard, ShiftExtendsTheSelectionAndCutPastesIt) {
  Memo->Lines().SetText("abcdef");
  QTest::keyClick(Memo.get(), Qt::Key_Home);
  QTest::keyClick(Memo.get(), Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(Memo.get(), Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(Memo->SelText(), "ab");
  QTest::keyClick(Memo.get(), Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(Memo.get(), Qt::Key_End);
  QTest::keyClick(Memo.get(), Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(Text(), "cdefab");
}

TEST_F(Keyboard, HomeEndAndPagesMoveTheCaretAndTheView) {
  SetLines(100);
  QTest::keyClick(Memo.get(), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret().Line, 99);
  EXPECT_LE(Memo->TopLine(), 99);
  EXPECT_LT(99, Memo->TopLine() + Memo->VisibleLines());
  QTest::keyClick(Memo.get(), Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Memo->Caret(), (TVKPos{0, 0}));
  EXPECT_EQ(Memo->TopLine(), 0);
  QTest::keyClick(Memo.get(), Qt::Key_PageDown);
  EXPECT_EQ(Memo->Caret().Line, Memo->VisibleLines());
  EXPECT_EQ(Memo->TopLine(), Memo->VisibleLines());
}

TEST_F(Keyboard, CtrlUpDownScrollWithoutMovingTheCaret) {
  SetLines(100);
  QTest::keyClick(Memo.get(), Qt::Key_Down, Qt::ControlModifier);
  QTest::keyClick(Memo.get(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(Memo->TopLine(), 2);
  EXPECT_EQ(Memo->Caret(), (TVKPos{0, 0}));
}

TEST_F(Keyboard, MovingDownPastTheLastVisibleLineRecentresTheView) {
  SetLines(100);
  const int visible = Memo->VisibleLines();
  Memo->MoveCaret(0, visible - 1, true, false);
  ASSERT_EQ(Memo->TopLine(), 0);
  QTest::keyClick(Memo.get(), Qt::Key_Down);
  EXPECT_EQ(Memo->TopLine(), visible + visible / 2 - visible + 1);
}

TEST_F(Keyboard, CompletionListOpensWhenIdleAndTypesTheChosenEntry) {
  Memo->DropListItems() = {"SysEx start|F0", "End|F7"};
  int opened = 0;
  Memo->OnDropListDown = [&](TVKCustomMemo&) { ++opened; };
  Memo->SetDropListTimeDelay(1);
  QTest::keyClicks(Memo.get(), "x ");
  BlinkTimer().Fire();
  EXPECT_FALSE(Memo->DropListVisible());
  BlinkTimer().Fire();
  ASSERT_TRUE(Memo->DropListVisible());
  EXPECT_EQ(opened, 1);
  // Sorted: "End|F7" comes first; Down chooses the SysEx start entry.
  QTest::keyClick(Memo->DropList(), Qt::Key_Down);
  QTest::keyClick(Memo->DropList(), Qt::Key_Return);
  EXPECT_FALSE(Memo->DropListVisible());
  EXPECT_EQ(Text(), "x F0");
}

TEST(DropList, InsertTextAndTypedPrefix) {
  EXPECT_EQ(DropListInsertText("plain"), "plain");
  EXPECT_EQ(DropListInsertText("name|insert"), "insert");
  EXPECT_EQ(DropListInsertText("name|shown|insert|more"), "insert|more");
  EXPECT_EQ(DropListTextToType("Print", " pr "), "int");
  EXPECT_EQ(DropListTextToType("F0", "x"), "F0");
}

} // namespace
} // namespace pelrow
