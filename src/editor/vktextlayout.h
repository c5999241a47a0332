// How a stored line maps to the screen grid and where its words are. A tab advances
// to the next tab stop, every other byte takes one column; codes below 32 show as ".".
// Word characters are digits, "@", ASCII letters and every byte from 128 up.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

// Display column of stored column col; columns beyond the line's end count one each.
int DisplayColumn(std::string_view line, int col, int tabWidth);
// The same, continuing from stored column from (at most col) shown at fromDisplay, so
// that only the characters between the two are laid out.
int DisplayColumnFrom(std::string_view line, int from, int fromDisplay, int col, int tabWidth);
// Stored column shown at displayCol (the nearer edge of a tab); beyond the line's end
// the columns continue one per display column.
int ColumnAtDisplay(std::string_view line, int displayCol, int tabWidth);
// Display width of the whole line.
int DisplayWidth(std::string_view line, int tabWidth);
// The part of the line shown from display column left on, at most count columns,
// with tabs laid out as blanks and control codes as ".". Only that part is laid out.
std::string VisibleText(std::string_view line, int left, int count, int tabWidth);

// Where the tabs of one line sit. Built in one quick pass, it answers the conversions
// above without walking the line again, so a screen far into a line of millions of
// characters is laid out in a few steps. It holds no text: pass the line it was built
// from.
class TVKLineLayout {
public:
  TVKLineLayout() = default;
  TVKLineLayout(std::string_view line, int tabWidth);

  int DisplayColumn(int col) const;
  int ColumnAtDisplay(int displayCol) const;
  std::string VisibleText(std::string_view line, int left, int count) const;

private:
  // Stored column and display column where the run of plain characters that holds
  // display column displayCol starts (a tab there starts the run).
  std::pair<int, int> RunStartAt(int displayCol) const;

  int FLength = 0;
  int FTabWidth = 8;
  std::vector<int> FTabs;    // stored column of each tab
  std::vector<int> FTabEnds; // display column just after each tab
};

bool IsWordChar(unsigned char c);
// Start of the word holding the character before col, or of the nearest word before
// it; nothing when no word precedes col on the line.
std::optional<int> WordStartBefore(std::string_view line, int col);
// Start of the next word after col, or the line's length when there is none.
int NextWordStart(std::string_view line, int col);

struct TVKWordSpan {
  int Start = 0;
  int End = 0; // just after the last character
};
// The word under col, else the nearest word to its left, else the next to its right.
std::optional<TVKWordSpan> WordAt(std::string_view line, int col);

} // namespace pelrow
