#include "editor/vktextlayout.h"

#include <algorithm>
#include <cstring>

namespace pelrow {

namespace {
int SaneTab(int tabWidth) {
  return std::max(1, tabWidth);
}
int NextTabStop(int displayCol, int tabWidth) {
  return (displayCol / tabWidth + 1) * tabWidth;
}
int Length(std::string_view line) {
  return static_cast<int>(line.size());
}
// The first tab in line[from, to), or to. Lines are walked from tab to tab, so a long
// run of plain characters costs one memchr.
int FindTab(std::string_view line, int from, int to) {
  if (from >= to)
    return to;
  const void* hit = std::memchr(line.data() + from, '\t', static_cast<size_t>(to - from));
  return hit ? static_cast<int>(static_cast<const char*>(hit) - line.data()) : to;
}
char Glyph(unsigned char c) {
  return c == '\t' ? ' ' : (c < 32 ? '.' : static_cast<char>(c));
}
// Lays out display columns left .. left + count - 1 from stored column col, which
// starts at display column display.
std::string LayOut(std::string_view line, int col, int display, int left, int count, int tabWidth) {
  std::string shown;
  const int right = left + count;
  shown.reserve(static_cast<size_t>(std::max(0, right - std::max(left, display))));
  for (int i = col; i < Length(line) && display < right; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[static_cast<size_t>(i)]);
    const int next = c == '\t' ? NextTabStop(display, tabWidth) : display + 1;
    shown.append(static_cast<size_t>(std::max(0, std::min(next, right) - std::max(display, left))),
                 Glyph(c));
    display = next;
  }
  return shown;
}
} // namespace

int DisplayColumn(std::string_view line, int col, int tabWidth) {
  return DisplayColumnFrom(line, 0, 0, col, tabWidth);
}

int DisplayColumnFrom(std::string_view line, int from, int fromDisplay, int col, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  const int len = Length(line);
  from = std::max(0, from);
  if (from >= len)
    return fromDisplay + std::max(0, col - from);
  const int inLine = std::clamp(col, from, len);
  int display = fromDisplay;
  for (int pos = from;;) {
    const int tab = FindTab(line, pos, inLine);
    display += tab - pos;
    if (tab == inLine)
      break;
    display = NextTabStop(display, tabWidth);
    pos = tab + 1;
  }
  return display + std::max(0, col - len);
}

int DisplayWidth(std::string_view line, int tabWidth) {
  return DisplayColumn(line, Length(line), tabWidth);
}

int ColumnAtDisplay(std::string_view line, int displayCol, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  if (displayCol <= 0)
    return 0;
  const int len = Length(line);
  int display = 0;
  for (int pos = 0;;) {
    // No need to look for a tab beyond the column asked for.
    const int tab = FindTab(line, pos, std::min(len, pos + (displayCol - display) + 1));
    const int runEnd = display + (tab - pos);
    if (displayCol < runEnd)
      return pos + (displayCol - display);
    if (tab == len)
      return len + (displayCol - runEnd);
    const int next = NextTabStop(runEnd, tabWidth);
    if (displayCol < next)
      return tab + (displayCol - runEnd > (next - runEnd) / 2 ? 1 : 0);
    display = next;
    pos = tab + 1;
  }
}

std::string VisibleText(std::string_view line, int left, int count, int tabWidth) {
  tabWidth = SaneTab(tabWidth);
  if (count <= 0)
    return {};
  const int len = Length(line);
  int display = 0;
  int pos = 0;
  // Skip whole runs and tabs left of the view, then the plain characters before it.
  while (left > display) {
    const int tab = FindTab(line, pos, std::min(len, pos + (left - display) + 1));
    const int runEnd = display + (tab - pos);
    if (left < runEnd || tab == len) {
      const int skip = std::min(left - display, tab - pos);
      pos += skip;
      display += skip;
      break;
    }
    const int next = NextTabStop(runEnd, tabWidth);
    if (left < next) {
      pos = tab;
      display = runEnd;
      break;
    }
    display = next;
    pos = tab + 1;
  }
  return LayOut(line, pos, display, left, count, tabWidth);
}

TVKLineLayout::TVKLineLayout(std::string_view line, int tabWidth)
    : FLength(Length(line)), FTabWidth(SaneTab(tabWidth)) {
  int display = 0;
  for (int pos = 0;;) {
    const int tab = FindTab(line, pos, FLength);
    if (tab == FLength)
      break;
    display = NextTabStop(display + (tab - pos), FTabWidth);
    FTabs.push_back(tab);
    FTabEnds.push_back(display);
    pos = tab + 1;
  }
}

int TVKLineLayout::DisplayColumn(int col) const {
  const int inLine = std::clamp(col, 0, FLength);
  const auto k = std::lower_bound(FTabs.begin(), FTabs.end(), inLine) - FTabs.begin();
  const int base = k == 0 ? inLine
                          : FTabEnds[static_cast<size_t>(k - 1)] +
                                (inLine - FTabs[static_cast<size_t>(k - 1)] - 1);
  return base + std::max(0, col - FLength);
}

std::pair<int, int> TVKLineLayout::RunStartAt(int displayCol) const {
  const auto k = std::upper_bound(FTabEnds.begin(), FTabEnds.end(), displayCol) - FTabEnds.begin();
  if (k == 0)
    return {0, 0};
  return {FTabs[static_cast<size_t>(k - 1)] + 1, FTabEnds[static_cast<size_t>(k - 1)]};
}

int TVKLineLayout::ColumnAtDisplay(int displayCol) const {
  if (displayCol <= 0)
    return 0;
  const auto [pos, display] = RunStartAt(displayCol);
  const auto k = std::upper_bound(FTabs.begin(), FTabs.end(), pos - 1) - FTabs.begin();
  const bool tabFollows = static_cast<size_t>(k) < FTabs.size();
  const int plainEnd = tabFollows ? FTabs[static_cast<size_t>(k)] : FLength;
  const int runEnd = display + (plainEnd - pos);
  if (displayCol < runEnd)
    return pos + (displayCol - display);
  if (!tabFollows)
    return FLength + (displayCol - runEnd);
  const int next = FTabEnds[static_cast<size_t>(k)];
  return plainEnd + (displayCol - runEnd > (next - runEnd) / 2 ? 1 : 0);
}

std::string TVKLineLayout::VisibleText(std::string_view line, int left, int count) const {
  if (count <= 0)
    return {};
  auto [pos, display] = RunStartAt(std::max(0, left));
  const auto k = std::upper_bound(FTabs.begin(), FTabs.end(), pos - 1) - FTabs.begin();
  const int plainEnd =
      static_cast<size_t>(k) < FTabs.size() ? FTabs[static_cast<size_t>(k)] : FLength;
  const int skip = std::clamp(left - display, 0, plainEnd - pos);
  return LayOut(line, pos + skip, display + skip, left, count, FTabWidth);
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
