// The screen layout of a view's lines, keeping the tab index of each long line between
// calls, so that painting and pointing far into a line of millions of characters does
// not walk it from its start each time. Short lines are laid out directly. The owner
// says which lines changed; a line whose text moved or changed length is laid out
// afresh anyway.
#pragma once

#include "editor/vktextlayout.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace pelrow {

class TVKLayoutCache {
public:
  int DisplayColumn(int line, std::string_view text, int col, int tabWidth);
  int ColumnAtDisplay(int line, std::string_view text, int displayCol, int tabWidth);
  std::string VisibleText(int line, std::string_view text, int left, int count, int tabWidth);

  // Lines first..last changed; last -1: to the end (lines were inserted or removed),
  // first below 0: the whole text.
  void Forget(int first, int last);
  void Clear() { FLines.clear(); }
  size_t Kept() const { return FLines.size(); }

private:
  struct TKept {
    const char* Data = nullptr;
    size_t Size = 0;
    int TabWidth = 0;
    TVKLineLayout Layout;
  };
  // The index of a long line; null for a short one.
  const TVKLineLayout* Layout(int line, std::string_view text, int tabWidth);

  std::unordered_map<int, TKept> FLines;
};

} // namespace pelrow
