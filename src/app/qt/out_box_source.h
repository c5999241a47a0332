// The Out box as the send engine reads it: its lines, read live (the box stays
// editable during a send), or its selected text.
#pragma once

#include "app/send_engine.h"

namespace pelrow {

class TVKCustomMemo;

class TOutBoxSource final : public TSendSource {
public:
  explicit TOutBoxSource(TVKCustomMemo& box) : FBox(box) {}

  int LineCount() const override;
  std::string Line(int index) const override;
  bool HasSelection() const override;
  std::string SelectedText() const override;
  int SelectionFirstLine() const override;

private:
  TVKCustomMemo& FBox;
};

} // namespace pelrow
