#include "editor/vklayoutcache.h"

namespace pelrow {

namespace {
// Shorter lines are walked each time; that is quicker than keeping their index.
constexpr size_t LongLineLength = 4096;
// More long lines than fit on any screen are not worth keeping.
constexpr size_t MaxLinesKept = 512;
} // namespace

const TVKLineLayout* TVKLayoutCache::Layout(int line, std::string_view text, int tabWidth) {
  if (text.size() < LongLineLength)
    return nullptr;
  auto found = FLines.find(line);
  if (found != FLines.end() &&
      (found->second.Data != text.data() || found->second.Size != text.size() ||
       found->second.TabWidth != tabWidth)) {
    FLines.erase(found);
    found = FLines.end();
  }
  if (found == FLines.end()) {
    if (FLines.size() >= MaxLinesKept)
      FLines.clear();
    found = FLines.emplace(line, TKept{text.data(), text.size(), tabWidth, {text, tabWidth}}).first;
  }
  return &found->second.Layout;
}

int TVKLayoutCache::DisplayColumn(int line, std::string_view text, int col, int tabWidth) {
  if (const TVKLineLayout* layout = Layout(line, text, tabWidth))
    return layout->DisplayColumn(col);
  return pelrow::DisplayColumn(text, col, tabWidth);
}

int TVKLayoutCache::ColumnAtDisplay(int line, std::string_view text, int displayCol, int tabWidth) {
  if (const TVKLineLayout* layout = Layout(line, text, tabWidth))
    return layout->ColumnAtDisplay(displayCol);
  return pelrow::ColumnAtDisplay(text, displayCol, tabWidth);
}

std::string TVKLayoutCache::VisibleText(int line, std::string_view text, int left, int count,
                                        int tabWidth) {
  if (const TVKLineLayout* layout = Layout(line, text, tabWidth))
    return layout->VisibleText(text, left, count);
  return pelrow::VisibleText(text, left, count, tabWidth);
}

void TVKLayoutCache::Forget(int first, int last) {
  if (first < 0) {
    FLines.clear();
    return;
  }
  std::erase_if(FLines, [&](const auto& entry) {
    return entry.first >= first && (last < 0 || entry.first <= last);
  });
}

} // namespace pelrow
