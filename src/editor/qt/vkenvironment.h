// Colours of the editor control. A colour is a 32-bit value with red in the low
// byte, green in the next and blue in the third; a value with the top byte set names
// a system colour (its low byte is the index below) and follows the desktop palette.
#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>
#include <functional>

namespace pelrow {

using TVKColor = uint32_t;

constexpr TVKColor SystemColorFlag = 0xFF000000u;
constexpr TVKColor clHighlight = SystemColorFlag | 13;
constexpr TVKColor clHighlightText = SystemColorFlag | 14;
constexpr TVKColor clBtnFace = SystemColorFlag | 15;
constexpr TVKColor clBtnShadow = SystemColorFlag | 16;
constexpr TVKColor clBtnText = SystemColorFlag | 18;
constexpr TVKColor clBtnHighlight = SystemColorFlag | 20;
constexpr TVKColor clWindow = SystemColorFlag | 5;
constexpr TVKColor clWindowText = SystemColorFlag | 8;
constexpr TVKColor clYellow = 0x00FFFF;
constexpr TVKColor clBlue = 0xFF0000;
constexpr TVKColor clGray = 0x808080;

QColor ColorToQColor(TVKColor color, const QPalette& palette);

class TVKEnvironment {
public:
  TVKColor TextColor() const { return FTextColor; }
  TVKColor TextBackground() const { return FTextBackground; }
  TVKColor SelectionColor() const { return FSelectionColor; }
  TVKColor SelectionBackground() const { return FSelectionBackground; }
  TVKColor RightEdgeColor() const { return FRightEdgeColor; }
  TVKColor Hyperlink() const { return FHyperlink; }
  TVKColor HyperlinkBackground() const { return FHyperlinkBackground; }

  void SetTextColor(TVKColor c) { Set(FTextColor, c); }
  void SetTextBackground(TVKColor c) { Set(FTextBackground, c); }
  void SetSelectionColor(TVKColor c) { Set(FSelectionColor, c); }
  void SetSelectionBackground(TVKColor c) { Set(FSelectionBackground, c); }
  void SetRightEdgeColor(TVKColor c) { Set(FRightEdgeColor, c); }
  void SetHyperlink(TVKColor c) { Set(FHyperlink, c); }
  void SetHyperlinkBackground(TVKColor c) { Set(FHyperlinkBackground, c); }

  // Copies all seven colours.
  void Assign(const TVKEnvironment& other);

  // Raised after any colour changed; the control repaints.
  std::function<void(TVKEnvironment& sender)> OnChange;

private:
  void Set(TVKColor& field, TVKColor value);

  TVKColor FTextColor = clWindowText;
  TVKColor FTextBackground = clWindow;
  TVKColor FSelectionColor = clYellow;
  TVKColor FSelectionBackground = clBlue;
  TVKColor FRightEdgeColor = clGray;
  TVKColor FHyperlink = clBlue;
  TVKColor FHyperlinkBackground = clWindow;
};

} // namespace pelrow
