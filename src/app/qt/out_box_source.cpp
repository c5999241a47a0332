#include "app/qt/out_box_source.h"

#include "editor/qt/veskmemo.h"

namespace pelrow {

int TOutBoxSource::LineCount() const {
  return FBox.Lines().Count();
}

std::string TOutBoxSource::Line(int index) const {
  return std::string(FBox.Lines().Get(index));
}

bool TOutBoxSource::HasSelection() const {
  return FBox.SelAvail();
}

std::string TOutBoxSource::SelectedText() const {
  return FBox.SelText();
}

int TOutBoxSource::SelectionFirstLine() const {
  return FBox.SelStartLine();
}

} // namespace pelrow
