#include "editor/vktextlayout.h"

#include <algorithm>

namespace pelrow {

namespace {
int Advance(unsigned char c, int displayCol, int tabWidth) {
  return c == '\t' ? (displayCol / tabWidth + 1) * tabWidth : displayCol + 1;
}
int SaneTab(int tabWidth) {
  return std::max(1, tabWidth);
}
} // namespace

int DisplayColumn(std::string_view line, int col, int tabWidth) {
  return DisplayColumnFrom(line, 0, 0, col, tabWidth);
}

int DisplayColumnFrom(std::string_view line, int from, int fromDisplay, int col, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  const int len = static_cast<int>(line.size());
  from = std::max(0, from);
  if (from >= len)
    return fromDisplay + std::max(0, col - from);
  const int inLine = std::clamp(col, from, len);
  // Only tabs are wider than one column; a long run without one is counted at once.
  const std::string_view part =
      line.substr(static_cast<size_t>(from), static_cast<size_t>(inLine - from));
  int display = fromDisplay;
  if (part.find('\t') == std::string_view::npos) {
    display += inLine - from;
  } else {
    for (const char c : part)
      display = Advance(static_cast<unsigned char>(c), display, tabWidth);
  }
  return display + std::max(0, col - len);
}

int DisplayWidth(std::string_view line, int tabWidth) {
  return DisplayColumn(line, static_cast<int>(line.size()), tabWidth);
}

int ColumnAtDisplay(std::string_view line, int displayCol, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  if (displayCol <= 0)
    return 0;
  int display = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const int next = Advance(static_cast<unsigned char>(line[i]), display, tabWidth);
    if (displayCol < next)
      return static_cast<int>(i) + (displayCol - display > (next - display) / 2 ? 1 : 0);
    display = next;
  }
  return static_cast<int>(line.size()) + (displayCol - display);
}

std::string VisibleText(std::string_view line, int left, int count, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  std::string shown;
  if (count <= 0)
    return shown;
  const int right = left + count;
  int display = 0;
  for (size_t i = 0; i < line.size() && display < right; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    const int next = Advance(c, display, tabWidth);
    const char glyph = c == '\t' ? ' ' : (c < 32 ? '.' : static_cast<char>(c));
    for (int d = std::max(display, left); d < std::min(next, right); ++d)
      shown += glyph;
    display = next;
  }
  return shown;
}

bool IsWordChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == '@' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         c >= 128;
}

namespace {
bool WordAtIndex(std::string_view line, int i) {
  return i >= 0 && i < static_cast<int>(line.size()) &&
         IsWordChar(static_cast<unsigned char>(line[static_cast<size_t>(i)]));
}
int WordStartFrom(std::string_view line, int i) {
  while (WordAtIndex(line, i - 1))
    --i;
  return i;
}
int WordEndFrom(std::string_view line, int i) {
  while (WordAtIndex(line, i))
    ++i;
  return i;
}
} // namespace

std::optional<int> WordStartBefore(std::string_view line, int col) {
  int i = std::min(col, static_cast<int>(line.size())) - 1;
  while (i >= 0 && !WordAtIndex(line, i))
    --i;
  if (i < 0)
    return std::nullopt;
  return WordStartFrom(line, i);
}

int NextWordStart(std::string_view line, int col) {
  const int len = static_cast<int>(line.size());
  int i = std::clamp(col, 0, len);
  i = WordEndFrom(line, i);
  while (i < len && !WordAtIndex(line, i))
    ++i;
  return i;
}

std::optional<TVKWordSpan> WordAt(std::string_view line, int col) {
  const int len = static_cast<int>(line.size());
  int i = std::clamp(col, 0, len);
  if (!WordAtIndex(line, i)) {
    int left = i - 1;
    while (left >= 0 && !WordAtIndex(line, left))
      --left;
    if (left >= 0) {
      i = left;
    } else {
      while (i < len && !WordAtIndex(line, i))
        ++i;
      if (i >= len)
        return std::nullopt;
    }
  }
  return TVKWordSpan{WordStartFrom(line, i), WordEndFrom(line, i)};
}

} // namespace pelrow
