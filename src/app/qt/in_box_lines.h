// The In box as the receive pump writes to it: its lines, plus the box's own
// scrolling and painting.
#pragma once

#include "app/receive_display.h"

namespace pelrow {

class TVKCustomMemo;

class TInBoxLines final : public TVKStringsReceiveLines {
public:
  explicit TInBoxLines(TVKCustomMemo& box);

  void DeferScrollToEnd() override;
  void ScrollToEnd() override;
  void Repaint() override;

private:
  TVKCustomMemo& FBox;
};

} // namespace pelrow
