// The line-number gutter on the left edge of the editor and the options that shape
// it. Presses, moves and releases in the gutter go to the editor, which selects
// whole lines from there.
#pragma once

#include "editor/qt/vkenvironment.h"

#include <QWidget>

namespace pelrow {

class TVKCustomMemo;

enum class TVKGutterAlignment { Left, Right, Center };

class TVKGutter final : public QWidget {
  Q_OBJECT
public:
  explicit TVKGutter(TVKCustomMemo& memo);

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  QString NumberText(int number) const;
  TVKCustomMemo& FMemo;
};

class TVKGutterOptions {
public:
  explicit TVKGutterOptions(TVKCustomMemo& memo) : FMemo(memo) {}

  bool Visible() const { return FVisible; }
  int Width() const { return FWidth; }
  TVKColor Color() const { return FColor; }
  TVKColor FontColor() const { return FFontColor; }
  bool ShowLineNum() const { return FShowLineNum; }
  TVKGutterAlignment Alignment() const { return FAlignment; }
  bool Bevel() const { return FBevel; }
  int Space() const { return FSpace; }
  int LedingDigits() const { return FLedingDigits; }
  bool ZeroStart() const { return FZeroStart; }

  void SetVisible(bool value);
  void SetWidth(int value); // 12 .. 48 pixels
  void SetColor(TVKColor value);
  void SetFontColor(TVKColor value);
  void SetShowLineNum(bool value);
  void SetAlignment(TVKGutterAlignment value);
  void SetBevel(bool value);
  void SetSpace(int value);        // 1 .. a third of the width
  void SetLedingDigits(int value); // 0 .. 8
  void SetZeroStart(bool value);

  // Width that painting uses (at least 14 pixels).
  int PaintWidth() const;

private:
  void Changed();

  TVKCustomMemo& FMemo;
  bool FVisible = true;
  int FWidth = 26;
  TVKColor FColor = clBtnFace;
  TVKColor FFontColor = clBtnText;
  bool FShowLineNum = false;
  TVKGutterAlignment FAlignment = TVKGutterAlignment::Left;
  bool FBevel = true;
  int FSpace = 2;
  int FLedingDigits = 0;
  bool FZeroStart = false;
};

} // namespace pelrow
