// Screen layout of a line (tabs, control codes, columns past the end) and the word
// rules used by Ctrl+Left/Right and double-click.
#include "editor/vktextlayout.h"

#include <gtest/gtest.h>

#include <random>

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

// The layout walked one byte at a time, as plainly as it can be written.
int ReferenceDisplay(std::string_view line, int col, int tab) {
  int display = 0;
  for (int i = 0; i < std::min<int>(col, static_cast<int>(line.size())); ++i)
    display = line[static_cast<size_t>(i)] == '\t' ? (display / tab + 1) * tab : display + 1;
  return display + std::max(0, col - static_cast<int>(line.size()));
}
std::string ReferenceVisible(std::string_view line, int left, int count, int tab) {
  std::string shown;
  for (int i = 0, display = 0; i < static_cast<int>(line.size()); ++i) {
    const char c = line[static_cast<size_t>(i)];
    const int next = c == '\t' ? (display / tab + 1) * tab : display + 1;
    for (int d = display; d < next; ++d)
      if (d >= left && d < left + count)
        shown += c == '\t' ? ' ' : c;
    display = next;
  }
  return shown;
}

// Lines of letters and tabs in every mix: the fast walk and the tab index give what the
// byte-by-byte layout gives, and columns survive the round trip through the screen.
TEST(TextLayout, TabIndexAndFastWalkAgreeWithTheByteByByteLayout) {
  std::mt19937 random(8);
  for (int round = 0; round < 300; ++round) {
    std::string line;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i)
      line += random() % 4 == 0 ? '\t' : static_cast<char>('a' + random() % 26);
    const int tab = 1 + static_cast<int>(random() % 8);
    const TVKLineLayout layout(line, tab);
    const int width = ReferenceDisplay(line, length, tab);
    for (int col = 0; col <= length + 3; ++col) {
      const int display = ReferenceDisplay(line, col, tab);
      ASSERT_EQ(DisplayColumn(line, col, tab), display) << line << " col " << col;
      ASSERT_EQ(layout.DisplayColumn(col), display) << line << " col " << col;
      ASSERT_EQ(ColumnAtDisplay(line, display, tab), col) << line << " col " << col;
      ASSERT_EQ(layout.ColumnAtDisplay(display), col) << line << " col " << col;
    }
    for (int displayCol = -1; displayCol <= width + 3; ++displayCol)
      ASSERT_EQ(layout.ColumnAtDisplay(displayCol), ColumnAtDisplay(line, displayCol, tab))
          << line << " display " << displayCol;
    for (int left = 0; left <= width + 1; ++left)
      for (int count : {1, 3, 10}) {
        const std::string expected = ReferenceVisible(line, left, count, tab);
        ASSERT_EQ(VisibleText(line, left, count, tab), expected) << line << " at " << left;
        ASSERT_EQ(layout.VisibleText(line, left, count), expected) << line << " at " << left;
      }
  }
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
