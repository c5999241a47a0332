// The left mouse button on the text model: selecting by dragging, whole lines from the
// gutter, moving and copying the selection, and the double-click word.
#include "editor/vkmousedrag.h"

#include <gtest/gtest.h>

#include <string>

namespace pelrow {
namespace {

class MouseDrag : public ::testing::Test {
protected:
  void SetText(const std::string& text) { Model.Lines().SetText(text); }
  std::string Text() const { return Model.Lines().Text(); }
  void Click(TVKPos pos, bool shift = false) {
    Drag.Down(pos, shift, false);
    Drag.Up(pos, false);
  }

  TVKEditModel Model;
  TVKMouseDrag Drag{Model};
};

TEST_F(MouseDrag, HoldingTheButtonSelectsFromThePressPointBothWays) {
  SetText("0123456789\r\nabcdefghij");
  Drag.Down({5, 0}, false, false);
  EXPECT_TRUE(Drag.Selecting());
  Drag.Move({2, 1});
  EXPECT_EQ(Model.SelText(), "56789\r\nab");
  Drag.Move({1, 0}); // back before the press point
  EXPECT_EQ(Model.SelText(), "1234");
  EXPECT_FALSE(Drag.Up({1, 0}, false));
  EXPECT_FALSE(Drag.Selecting());
  Drag.Move({9, 0}); // moves without the button change nothing
  EXPECT_EQ(Model.SelText(), "1234");
  Click({7, 0}, true); // Shift extends from the press point
  EXPECT_EQ(Model.SelText(), "56");
}

TEST_F(MouseDrag, GutterPressesSelectWholeLines) {
  SetText("first\r\nsecond\r\nthird");
  Drag.Down({0, 1}, false, true);
  Drag.Up({0, 1}, false);
  EXPECT_EQ(Model.SelText(), "second\r\n");
  Drag.Down({0, 0}, false, true);
  Drag.Move({0, 2});
  Drag.Up({0, 2}, false);
  EXPECT_EQ(Model.SelText(), "first\r\nsecond\r\nthird");
}

TEST_F(MouseDrag, ReleasingADraggedSelectionMovesOrCopiesIt) {
  SetText("one two three");
  Model.SetSelection(0, 0, 4, 0);
  Drag.Down({1, 0}, false, false);
  EXPECT_TRUE(Drag.DraggingSelection());
  EXPECT_FALSE(Drag.Selecting()); // no auto-scroll, the selection stays
  Drag.Move({8, 0});
  EXPECT_EQ(Model.SelText(), "one ");
  EXPECT_TRUE(Drag.Up({8, 0}, false));
  EXPECT_EQ(Text(), "two one three");
  EXPECT_EQ(Model.SelText(), "one ");

  SetText("abc def");
  Model.SetSelection(0, 0, 3, 0);
  Drag.Down({1, 0}, false, false);
  Drag.Up({5, 0}, true);
  EXPECT_EQ(Text(), "abc dabcef");
}

TEST_F(MouseDrag, AClickInTheSelectionEndsItAndEscapeCancelsADrag) {
  SetText("abcdef");
  Model.SetSelection(1, 0, 5, 0);
  Click({3, 0});
  EXPECT_FALSE(Model.SelAvail());
  EXPECT_EQ(Model.Caret(), (TVKPos{3, 0}));

  Model.SetSelection(1, 0, 5, 0);
  Drag.Down({2, 0}, false, false);
  EXPECT_TRUE(Drag.CancelDrag());
  EXPECT_FALSE(Drag.CancelDrag());
  Drag.Up({0, 0}, false);
  EXPECT_EQ(Text(), "abcdef");
  EXPECT_EQ(Model.SelText(), "bcde");
}

TEST_F(MouseDrag, WithoutDraggingAPressInTheSelectionPlacesTheCaret) {
  SetText("abcdef");
  for (bool readOnly : {true, false}) {
    Model.SetReadOnly(readOnly);
    Drag.SetAllowDragSelection(readOnly);
    Model.SetSelection(1, 0, 5, 0);
    Drag.Down({3, 0}, false, false);
    EXPECT_FALSE(Drag.DraggingSelection());
    EXPECT_FALSE(Model.SelAvail());
    EXPECT_EQ(Model.Caret(), (TVKPos{3, 0}));
    Drag.Up({3, 0}, false);
  }
}

TEST_F(MouseDrag, TheButtonUpAndTheNextPressAfterADoubleClickKeepTheWord) {
  SetText("F0 43 10 F7");
  Drag.Down({4, 0}, false, false); // the double-click's second press comes first
  Drag.DoubleClick({4, 0});
  EXPECT_EQ(Model.SelText(), "43");
  Drag.Up({4, 0}, false);
  Drag.Down({4, 0}, false, false); // inside the word: no drag starts either
  EXPECT_FALSE(Drag.DraggingSelection());
  Drag.Move({9, 0});
  Drag.Up({9, 0}, false);
  EXPECT_EQ(Model.SelText(), "43");
  Click({9, 0});
  EXPECT_FALSE(Model.SelAvail());

  Drag.DoubleClick({10, 0});
  Drag.Up({10, 0}, false);
  Click({1, 0}, true); // a Shift-click outside does not extend it
  EXPECT_EQ(Model.SelText(), "F7");
}

} // namespace
} // namespace pelrow
