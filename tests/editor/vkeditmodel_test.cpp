// The editor's text model: selection text, insertion and deletion, keyboard edits,
// navigation rules and the undo ring with its merge rules.
#include "editor/vkeditmodel.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelrow {
namespace {

class EditModel : public ::testing::Test {
protected:
  void SetText(const std::string& text) { Model.Lines().SetText(text); }
  std::string Text() const { return Model.Lines().Text(); }
  void Type(const std::string& text) {
    for (char c : text)
      Model.TypeChar(c);
  }
  TVKPos Caret() const { return Model.Caret(); }

  TVKEditModel Model;
};

TEST_F(EditModel, SelTextSpansPartialFirstWholeMiddleAndPartialLastLine) {
  SetText("abcd\r\nefgh\r\nijkl");
  Model.SetSelection(2, 0, 1, 2);
  EXPECT_EQ(Model.SelText(), "cd\r\nefgh\r\ni");
  Model.SetSelection(3, 1, 1, 1); // given backwards: ordered
  EXPECT_EQ(Model.SelText(), "fg");
  Model.SetSelection(1, 1, 1, 1); // an empty selection is none
  EXPECT_FALSE(Model.SelAvail());
  EXPECT_EQ(Model.SelText(), "");
}

TEST_F(EditModel, PositionsOutsideTheTextAreClamped) {
  SetText("abc\r\nde");
  EXPECT_EQ(Model.Clamp({5, -1}), (TVKPos{0, 0}));
  EXPECT_EQ(Model.Clamp({1, 9}), (TVKPos{2, 1}));
  EXPECT_EQ(Model.Clamp({9, 0}), (TVKPos{3, 0}));
  EXPECT_EQ(Model.Clamp({-4, 1}), (TVKPos{0, 1}));
  EXPECT_EQ(Model.Clamp({9, 0}, true), (TVKPos{9, 0}));
  Model.SetSelection(-5, -5, 99, 99);
  EXPECT_EQ(Model.SelText(), "abc\r\nde");
}

TEST_F(EditModel, InsertTextSplitsAtEveryBreakStyleAndKeepsTheTail) {
  SetText("headTAIL");
  Model.InsertText("1\r\n2\n\r3\r4\n5", 4, 0, true, false);
  EXPECT_EQ(Text(), "head1\r\n2\r\n3\r\n4\r\n5TAIL");
  EXPECT_EQ(Caret(), (TVKPos{1, 4}));
  Model.Undo();
  EXPECT_EQ(Text(), "headTAIL");
  EXPECT_EQ(Caret(), (TVKPos{4, 0}));
}

TEST_F(EditModel, InsertTextWithSelectSelectsTheInsertedText) {
  SetText("ab");
  Model.InsertText("X\r\nY", 1, 0, false, true);
  EXPECT_EQ(Model.SelText(), "X\r\nY");
  EXPECT_EQ(Caret(), (TVKPos{1, 1}));
}

TEST_F(EditModel, AppendTextCannotBeUndone) {
  Model.AppendText("F0 7E\r\nF7\r\n");
  EXPECT_EQ(Model.Lines().Count(), 3);
  EXPECT_EQ(Text(), "F0 7E\r\nF7\r\n");
  Model.Undo();
  EXPECT_EQ(Text(), "F0 7E\r\nF7\r\n");
  EXPECT_FALSE(Model.CanUndo());
}

TEST_F(EditModel, TypingMergesAWordWithTheBlanksBeforeIt) {
  Type("hello world");
  Model.Undo();
  EXPECT_EQ(Text(), "hello");
  Model.Undo();
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(Model.CanUndo());
}

TEST_F(EditModel, CaretMovementOrLineBreakStartsANewUndoStep) {
  Type("ab");
  Model.KeyLeft(false, false);
  Model.KeyRight(false, false);
  Type("cd");
  Model.KeyEnter();
  Type("ef");
  EXPECT_EQ(Model.UndoRing().UndoCount(), 4);
  Model.Undo();
  EXPECT_EQ(Text(), "abcd\r\n");
  Model.Undo();
  EXPECT_EQ(Text(), "abcd");
  Model.Undo();
  EXPECT_EQ(Text(), "ab");
}

TEST_F(EditModel, OnlyTheLastUndoSizeEditsCanBeUndone) {
  Model.SetUndoSize(20);
  Type("x");
  for (int i = 0; i < 24; ++i) {
    Model.KeyEnter(); // a break never merges
  }
  EXPECT_EQ(Model.UndoRing().UndoCount(), 20);
  int undone = 0;
  while (Model.CanUndo()) {
    Model.Undo();
    ++undone;
  }
  EXPECT_EQ(undone, 20);
  EXPECT_EQ(Model.Lines().Count(), 5); // "x" and the four oldest breaks remain
  while (Model.CanRedo())
    Model.Redo();
  EXPECT_EQ(Model.Lines().Count(), 25);
}

TEST_F(EditModel, ANewEditAfterUndoDiscardsRedo) {
  Type("one two");
  Model.Undo();
  EXPECT_TRUE(Model.CanRedo());
  Type("!");
  EXPECT_FALSE(Model.CanRedo());
  Model.Redo();
  EXPECT_EQ(Text(), "one!");
}

TEST_F(EditModel, UndoSizeZeroKeepsNoHistoryAndNeverFails) {
  Model.SetUndoSize(0);
  Type("abc");
  Model.KeyBackspace();
  Model.Undo();
  Model.Redo();
  EXPECT_EQ(Text(), "ab");
  EXPECT_FALSE(Model.CanUndo());
  Model.SetUndoSize(-3); // ignored
  EXPECT_EQ(Model.UndoSize(), 0);
}

TEST_F(EditModel, BackspaceAtLineStartJoinsAndUndoSplitsAgain) {
  SetText("l0\r\nl1\r\nl2\r\nl3");
  Model.MoveCaret(0, 3, false, false);
  Model.KeyBackspace();
  EXPECT_EQ(Text(), "l0\r\nl1\r\nl2l3");
  EXPECT_EQ(Caret(), (TVKPos{2, 2}));
  Model.Undo();
  EXPECT_EQ(Text(), "l0\r\nl1\r\nl2\r\nl3");
  EXPECT_EQ(Caret(), (TVKPos{0, 3}));
}

TEST_F(EditModel, RedoOfBackspaceRemovesTheSameCharacterAgain) {
  SetText("abc");
  Model.MoveCaret(2, 0, false, false);
  Model.KeyBackspace();
  EXPECT_EQ(Text(), "ac");
  Model.Undo();
  Model.Redo();
  EXPECT_EQ(Text(), "ac");
  EXPECT_EQ(Caret(), (TVKPos{1, 0}));
}

TEST_F(EditModel, DeleteKeyRemovesCharacterOrJoinsNextLine) {
  SetText("ab\r\ncd");
  Model.MoveCaret(2, 0, false, false);
  Model.KeyDelete(false);
  EXPECT_EQ(Text(), "abcd");
  Model.KeyDelete(false);
  EXPECT_EQ(Text(), "abd");
  Model.Undo();
  Model.Undo();
  EXPECT_EQ(Text(), "ab\r\ncd");
  Model.MoveCaret(2, 1, false, false);
  Model.KeyDelete(false); // at the very end: nothing
  EXPECT_EQ(Text(), "ab\r\ncd");
}

TEST_F(EditModel, KeyboardEditsAndUndoDoNothingWhenReadOnly) {
  SetText("log");
  Model.SetSelection(0, 0, 3, 0);
  Model.SetReadOnly(true);
  Type("x");
  Model.KeyEnter();
  Model.KeyBackspace();
  Model.KeyDelete(false);
  Model.CutToClipboard();
  Model.Clipboard().SetText("paste");
  Model.PasteFromClipboard();
  EXPECT_EQ(Text(), "log");
  Model.AppendText("\r\nmore"); // the program can always change the lines
  EXPECT_EQ(Text(), "log\r\nmore");
}

TEST_F(EditModel, ClipboardCommands) {
  SetText("F0 41 F7");
  Model.SetSelection(3, 0, 5, 0);
  Model.CutToClipboard();
  EXPECT_EQ(Text(), "F0  F7");
  EXPECT_EQ(Model.Clipboard().Text(), "41");
  Model.SetSelection(0, 0, 2, 0);
  Model.PasteFromClipboard(); // replaces the selection
  EXPECT_EQ(Text(), "41  F7");
  EXPECT_EQ(Caret(), (TVKPos{2, 0}));
  Model.Undo();
  Model.Undo();
  EXPECT_EQ(Text(), "F0  F7");
  Model.Clipboard().SetText("");
  Model.SetSelection(0, 0, 2, 0);
  Model.PasteFromClipboard(); // an empty clipboard changes nothing
  EXPECT_EQ(Text(), "F0  F7");
}

TEST_F(EditModel, TypingOverASelectionReplacesItInTwoUndoSteps) {
  SetText("abc");
  Model.SelectAll();
  EXPECT_EQ(Model.Anchor(), (TVKPos{0, 0}));
  Type("z");
  EXPECT_EQ(Text(), "z");
  Model.Undo();
  EXPECT_EQ(Text(), "");
  Model.Undo();
  EXPECT_EQ(Text(), "abc");
  EXPECT_EQ(Model.SelText(), "abc");
}

TEST_F(EditModel, DragMoveIsTwoUndoStepsAndLandsWhereTheDropPointWas) {
  SetText("one two three");
  Model.SetSelection(0, 0, 4, 0); // "one "
  ASSERT_TRUE(Model.DropSelection({8, 0}, false));
  EXPECT_EQ(Text(), "two one three");
  EXPECT_EQ(Model.SelText(), "one ");
  Model.Undo();
  EXPECT_EQ(Text(), "two three");
  Model.Undo();
  EXPECT_EQ(Text(), "one two three");
  EXPECT_EQ(Model.SelText(), "one ");
}

TEST_F(EditModel, DragMoveAcrossLinesKeepsTheDropLine) {
  SetText("a\r\nXY\r\nb\r\nc");
  Model.SetSelection(0, 1, 0, 2); // "XY" and its break
  ASSERT_TRUE(Model.DropSelection({1, 3}, false));
  EXPECT_EQ(Text(), "a\r\nb\r\ncXY\r\n");
}

TEST_F(EditModel, DragCopyUndoRemovesTheCopyNotTheOriginal) {
  SetText("abc def");
  Model.SetSelection(0, 0, 3, 0);
  ASSERT_TRUE(Model.DropSelection({7, 0}, true));
  EXPECT_EQ(Text(), "abc defabc");
  Model.Undo();
  EXPECT_EQ(Text(), "abc def");
  EXPECT_EQ(Model.SelText(), "abc");
  Model.Redo();
  EXPECT_EQ(Text(), "abc defabc");
  EXPECT_FALSE(Model.DropSelection({8, 0}, true)); // inside the selection
}

TEST_F(EditModel, ReplacingTheWholeTextResetsCaretSelectionAndHistory) {
  Type("abc");
  Model.SetSelection(0, 0, 2, 0);
  Model.Lines().SetText("new");
  EXPECT_EQ(Caret(), (TVKPos{0, 0}));
  EXPECT_FALSE(Model.SelAvail());
  EXPECT_FALSE(Model.CanUndo());
}

TEST_F(EditModel, ShorteningTheTextFromOutsideKeepsPositionsInside) {
  SetText("aaaa\r\nbbbb\r\ncccc");
  Model.SetSelection(1, 1, 3, 2);
  Model.Lines().Delete(2);
  Model.Lines().Put(1, "b");
  EXPECT_LE(Caret().Line, 1);
  EXPECT_EQ(Model.SelText(), "");
  Type("x"); // must not reach past the text
  EXPECT_EQ(Model.Lines().Count(), 2);
}

TEST_F(EditModel, BackspaceFromBlanksBeyondAnEmptyFirstLineRemovesNothing) {
  Model.SetAllowCaretInWhiteSpace(true);
  SetText("\r\nxyz");
  Model.MoveCaret(3, 0, false, false);
  ASSERT_EQ(Caret(), (TVKPos{3, 0}));
  EXPECT_NO_THROW(Model.KeyBackspace());
  EXPECT_EQ(Text(), "\r\nxyz");
  EXPECT_EQ(Caret(), (TVKPos{0, 0}));
  EXPECT_FALSE(Model.Lines().Updating());
  EXPECT_FALSE(Model.CanUndo());
}

TEST_F(EditModel, TypingOrPastingBeyondTheLineEndUndoesTheBlanksToo) {
  Model.SetAllowCaretInWhiteSpace(true);
  SetText("ab\r\ncd");
  Model.MoveCaret(4, 0, false, false);
  Type("x");
  EXPECT_EQ(Model.Lines()[0], "ab  x");
  Model.MoveCaret(7, 1, false, false);
  Model.Clipboard().SetText("y");
  Model.PasteFromClipboard();
  EXPECT_EQ(Model.Lines()[1], "cd     y");
  Model.MoveCaret(9, 1, false, false);
  Model.KeyEnter(); // breaks at the line's end: no blanks are added
  EXPECT_EQ(Text(), "ab  x\r\ncd     y\r\n");
  Model.Undo();
  Model.Redo();
  EXPECT_EQ(Text(), "ab  x\r\ncd     y\r\n");
  Model.Undo();
  Model.Undo();
  Model.Undo();
  EXPECT_EQ(Text(), "ab\r\ncd");
}

TEST_F(EditModel, AnEmptiedTextHoldsTheCaretAtItsStartEvenInWhiteSpaceMode) {
  Model.SetAllowCaretInWhiteSpace(true);
  SetText("abc");
  Model.MoveCaret(6, 0, false, false);
  ASSERT_EQ(Caret(), (TVKPos{6, 0}));
  Model.Lines().Put(0, "");
  EXPECT_EQ(Caret(), (TVKPos{0, 0}));
  // A step recorded before the program removed every line cannot put it back there.
  Type("ab");
  Model.KeyLeft(false, false);
  Model.KeyRight(false, false);
  Type("c");
  Model.Lines().Delete(0);
  Model.Undo();
  EXPECT_EQ(Caret(), (TVKPos{0, 0}));
}

// Checks, whenever the model says the lines changed, what a change handler relies on:
// the caret and the selection lie inside the text.
class TCheckingView : public TVKEditView {
public:
  TVKEditModel* Model = nullptr;
  std::vector<std::string> Faults;

  void ViewLinesChangeEnded() override {
    const TVKStrings& lines = Model->Lines();
    const TVKPos caret = Model->Caret();
    const std::string where =
        "caret " + std::to_string(caret.Col) + "," + std::to_string(caret.Line);
    if (lines.Text().empty() && !(caret == TVKPos{}))
      Faults.push_back(where + " in an empty text");
    else if (!lines.Empty() && caret.Line >= lines.Count())
      Faults.push_back(where + " below the last line");
    else if (!lines.Empty() && !Model->AllowCaretInWhiteSpace() &&
             caret.Col > lines.LineLength(caret.Line))
      Faults.push_back(where + " beyond its line");
    if (Model->SelAvail() && !(Model->SelEnd() == Model->Clamp(Model->SelEnd())))
      Faults.push_back("selection beyond the text");
  }
};

TEST(EditModelChanges, HandlersSeeCaretAndSelectionAlreadyInsideAShortenedText) {
  TCheckingView view;
  TVKEditModel model(&view);
  view.Model = &model;
  model.Lines().SetText("aaaa\r\nbbbb\r\ncccc");
  model.MoveCaret(1, 1, false, false);
  model.MoveCaret(3, 2, false, true);
  model.Lines().Delete(2);
  model.Lines().Put(1, "b");
  model.MoveCaret(1, 1, false, false);
  model.Lines().SetText("x"); // replaced: caret back to the start before anyone hears
  model.SetAllowCaretInWhiteSpace(true);
  model.MoveCaret(5, 0, false, false);
  model.Lines().Put(0, "");
  EXPECT_EQ(view.Faults, std::vector<std::string>{});
}

TEST(EditModelChanges, AnEditInterruptedByAnExceptionStillEndsItsUpdate) {
  struct TFailingView : TVKEditView {
    bool FailNextCaretMove = false;
    int ChangesEnded = 0;
    void ViewCaretMoved() override {
      if (FailNextCaretMove) {
        FailNextCaretMove = false;
        throw std::runtime_error("view failed");
      }
    }
    void ViewLinesChangeEnded() override { ++ChangesEnded; }
  };
  const std::vector<std::pair<const char*, std::function<void(TVKEditModel&)>>> edits = {
      {"type", [](TVKEditModel& m) { m.TypeChar('x'); }},
      {"enter", [](TVKEditModel& m) { m.KeyEnter(); }},
      {"backspace join", [](TVKEditModel& m) { m.KeyBackspace(); }},
      {"insert", [](TVKEditModel& m) { m.InsertText("p\r\nq", 1, 0, true, false); }},
      {"append", [](TVKEditModel& m) { m.AppendText("tail"); }},
      {"delete selection",
       [](TVKEditModel& m) {
         m.SetSelection(1, 0, 1, 1);
         m.DeleteSelection();
       }},
  };
  for (const auto& [name, edit] : edits) {
    SCOPED_TRACE(name);
    TFailingView view;
    TVKEditModel model(&view);
    model.Lines().SetText("ab\r\ncd");
    model.MoveCaret(0, 1, false, false);
    view.FailNextCaretMove = true;
    const int endedBefore = view.ChangesEnded;
    EXPECT_THROW(edit(model), std::runtime_error);
    EXPECT_FALSE(model.Lines().Updating());
    EXPECT_GT(view.ChangesEnded, endedBefore);
    model.TypeChar('z'); // the box keeps working
    EXPECT_NE(model.Lines().Text().find('z'), std::string::npos);
  }
}

TEST_F(EditModel, CtrlLeftAndRightFollowTheWordRules) {
  SetText("F0 43  10\r\nnext");
  Model.MoveCaret(4, 0, false, false); // inside "43"
  Model.KeyLeft(true, false);
  EXPECT_EQ(Caret(), (TVKPos{3, 0}));
  Model.KeyLeft(true, false);
  EXPECT_EQ(Caret(), (TVKPos{0, 0}));
  Model.MoveCaret(6, 0, false, false); // on the blanks between words
  Model.KeyRight(true, false);
  EXPECT_EQ(Caret(), (TVKPos{7, 0}));
  Model.KeyRight(true, false);
  EXPECT_EQ(Caret(), (TVKPos{9, 0})); // no more words: the line's end
  Model.KeyRight(true, false);
  EXPECT_EQ(Caret(), (TVKPos{0, 1}));
  Model.KeyLeft(true, false); // no word before: end of the previous line
  EXPECT_EQ(Caret(), (TVKPos{9, 0}));
}

TEST_F(EditModel, ArrowsWrapAtLineEndsUnlessWhiteSpaceIsAllowed) {
  SetText("ab\r\ncd");
  Model.MoveCaret(2, 0, false, false);
  Model.KeyRight(false, false);
  EXPECT_EQ(Caret(), (TVKPos{0, 1}));
  Model.KeyLeft(false, false);
  EXPECT_EQ(Caret(), (TVKPos{2, 0}));
  Model.SetAllowCaretInWhiteSpace(true);
  Model.KeyRight(false, false);
  EXPECT_EQ(Caret(), (TVKPos{3, 0}));
  Type("x"); // pads with blanks up to the caret
  EXPECT_EQ(Model.Lines()[0], "ab x");
}

TEST_F(EditModel, ShiftNavigationExtendsFromTheAnchor) {
  SetText("hello\r\nworld");
  Model.MoveCaret(2, 0, false, false);
  Model.KeyRight(false, true);
  Model.KeyVertical(1, true);
  EXPECT_EQ(Model.SelText(), "llo\r\nwor");
  Model.KeyVertical(-1, true);
  Model.KeyLeft(false, true);
  Model.KeyLeft(false, true);
  EXPECT_EQ(Model.SelText(), "e");
  EXPECT_EQ(Caret(), (TVKPos{1, 0}));
  Model.KeyEnd(true, false);
  EXPECT_FALSE(Model.SelAvail());
  EXPECT_EQ(Caret(), (TVKPos{5, 1}));
}

TEST_F(EditModel, CaretDisplayColumnFollowsChangesBeforeTheCaret) {
  Model.SetTabWidth(4);
  SetText("ab\tcd");
  Model.MoveCaret(5, 0, false, false);
  EXPECT_EQ(Model.CaretDisplayCol(), 6);
  Model.Lines().Put(0, "\tab\tcd"); // the program changes the line before the caret
  EXPECT_EQ(Model.CaretDisplayCol(), 9);
  Model.MoveCaret(2, 0, false, false); // back across the tab
  EXPECT_EQ(Model.CaretDisplayCol(), 5);
  Model.SetTabWidth(2);
  EXPECT_EQ(Model.CaretDisplayCol(), 3);
}

TEST_F(EditModel, VerticalMovesKeepTheDisplayColumnAcrossTabs) {
  Model.SetTabWidth(8);
  SetText("\tX\r\n0123456789");
  Model.MoveCaret(1, 0, false, false); // display column 8
  Model.KeyVertical(1, false);
  EXPECT_EQ(Caret(), (TVKPos{8, 1}));
}

TEST_F(EditModel, SelectLinesAndWords) {
  SetText("F0 43\r\n10 F7\r\nlast");
  Model.SelectLines(0, 0);
  EXPECT_EQ(Model.SelText(), "F0 43\r\n");
  Model.SelectLines(2, 1);
  EXPECT_EQ(Model.SelText(), "10 F7\r\nlast");
  ASSERT_TRUE(Model.SelectWordAt({4, 1}));
  EXPECT_EQ(Model.SelText(), "F7");
}

} // namespace
} // namespace pelrow
