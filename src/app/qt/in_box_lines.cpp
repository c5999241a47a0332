#include "app/qt/in_box_lines.h"

#include "editor/qt/veskmemo.h"

namespace pelrow {

TInBoxLines::TInBoxLines(TVKCustomMemo& box) : TVKStringsReceiveLines(box.Lines()), FBox(box) {}

void TInBoxLines::DeferScrollToEnd() {
  FBox.DeferRefresh();
}

void TInBoxLines::ScrollToEnd() {
  FBox.ScrollToEnd();
}

void TInBoxLines::Repaint() {
  FBox.repaint();
}

} // namespace pelrow
