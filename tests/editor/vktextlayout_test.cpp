// Screen layout of a line (tabs, control codes, columns past the end) and the word
// rules used by Ctrl+Left/Right and double-click.
#include "editor/vktextlayout.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(TextLayout, TabsAdvanceToTheNextStop) {
  EXPECT_EQ(DisplayColumn("\tX", 1, 8), 8);
  EXPECT_EQ(DisplayColumn("ab\tX", 3, 8), 8);
  EXPECT_EQ(DisplayColumn("ab\tX", 3, 4), 4);
  EXPECT_EQ(DisplayColumn("ab", 5, 8), 5); // beyond the end: one column each
  EXPECT_EQ(DisplayWidth("\t\t", 8), 16);
  EXPECT_EQ(DisplayColumn("\t", 1, 0), 1); // a tab width below 1 counts as 1
}

TEST(TextLayout, DisplayColumnsMapBackToStoredColumns) {
  EXPECT_EQ(ColumnAtDisplay("\tX", 8, 8), 1);
  EXPECT_EQ(ColumnAtDisplay("\tX", 2, 8), 0); // nearer the tab's left edge
  EXPECT_EQ(ColumnAtDisplay("\tX", 6, 8), 1);
  EXPECT_EQ(ColumnAtDisplay("abc", 7, 8), 7);
  EXPECT_EQ(ColumnAtDisplay("abc", -3, 8), 0);
}

TEST(TextLayout, VisibleTextShowsControlCodesAsDotsAndOnlyTheVisiblePart) {
  EXPECT_EQ(VisibleText("a\x07z", 0, 10, 8), "a.z");
  EXPECT_EQ(VisibleText("\tX", 0, 20, 8), "        X");
  EXPECT_EQ(VisibleText("\tX", 6, 20, 8), "  X");
  EXPECT_EQ(VisibleText("0123456789", 3, 4, 8), "3456");
  EXPECT_EQ(VisibleText("abc", 5, 4, 8), "");
  EXPECT_EQ(VisibleText(std::string("\0a", 2), 0, 5, 8), ".a");
}

TEST(Words, WordCharactersAreDigitsAtLettersAndHighBytes) {
  EXPECT_TRUE(IsWordChar('7'));
  EXPECT_TRUE(IsWordChar('@'));
  EXPECT_TRUE(IsWordChar('q'));
  EXPECT_TRUE(IsWordChar(0xE9));
  EXPECT_FALSE(IsWordChar('_'));
  EXPECT_FALSE(IsWordChar(' '));
  EXPECT_FALSE(IsWordChar('\t'));
}

TEST(Words, WordStartBeforeFindsTheWordHoldingThePreviousCharacter) {
  EXPECT_EQ(WordStartBefore("hello world", 8), 6);
  EXPECT_EQ(WordStartBefore("hello world", 6), 0); // on the blank: the word before it
  EXPECT_EQ(WordStartBefore("hello   ", 8), 0);
  EXPECT_EQ(WordStartBefore("  ;; ", 5), std::nullopt);
  EXPECT_EQ(WordStartBefore("abc", 0), std::nullopt);
}

TEST(Words, NextWordStartSkipsTheRestOfTheWordAndTheGap) {
  EXPECT_EQ(NextWordStart("hello world", 0), 6);
  EXPECT_EQ(NextWordStart("hello   world", 6), 8); // from the blanks between words
  EXPECT_EQ(NextWordStart("F0 7E_00", 3), 6);      // "_" separates words
  EXPECT_EQ(NextWordStart("last", 1), 4);
}

TEST(Words, WordAtPrefersTheWordUnderThenLeftThenRight) {
  auto span = [](std::string_view line, int col) {
    const auto word = WordAt(line, col);
    return word ? std::make_pair(word->Start, word->End) : std::make_pair(-1, -1);
  };
  EXPECT_EQ(span("F0 43 10", 4), std::make_pair(3, 5));
  EXPECT_EQ(span("F0 43   ", 7), std::make_pair(3, 5));
  EXPECT_EQ(span("   43", 1), std::make_pair(3, 5));
  EXPECT_EQ(span(" ;; ", 2), std::make_pair(-1, -1));
}

} // namespace
} // namespace pelrow
