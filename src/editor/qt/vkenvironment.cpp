#include "editor/qt/vkenvironment.h"

namespace pelrow {

QColor ColorToQColor(TVKColor color, const QPalette& palette) {
  if ((color & SystemColorFlag) == 0)
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
  switch (color) {
  case clWindow:
    return palette.color(QPalette::Base);
  case clWindowText:
    return palette.color(QPalette::Text);
  case clBtnFace:
    return palette.color(QPalette::Button);
  case clBtnText:
    return palette.color(QPalette::ButtonText);
  case clBtnShadow:
    return palette.color(QPalette::Dark);
  case clBtnHighlight:
    return palette.color(QPalette::Light);
  case clHighlight:
    return palette.color(QPalette::Highlight);
  case clHighlightText:
    return palette.color(QPalette::HighlightedText);
  default:
    return palette.color(QPalette::WindowText);
  }
}

void TVKEnvironment::Set(TVKColor& field, TVKColor value) {
  if (field == value)
    return;
  field = value;
  if (OnChange)
    OnChange(*this);
}

void TVKEnvironment::Assign(const TVKEnvironment& other) {
  FTextColor = other.FTextColor;
  FTextBackground = other.FTextBackground;
  FSelectionColor = other.FSelectionColor;
  FSelectionBackground = other.FSelectionBackground;
  FRightEdgeColor = other.FRightEdgeColor;
  FHyperlink = other.FHyperlink;
  FHyperlinkBackground = other.FHyperlinkBackground;
  if (OnChange)
    OnChange(*this);
}

} // namespace pelrow
