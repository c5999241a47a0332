// The main window's status bar: two text panels side by side (Out side left, In side
// right) and a single-text mode that covers both while a menu hint is shown, after
// which the panels reappear with their texts unchanged.
#pragma once

#include <QFrame>

class QLabel;

namespace pelrow {

class TStatusBar : public QFrame {
  Q_OBJECT
public:
  explicit TStatusBar(QWidget* parent = nullptr);

  QString PanelText(int index) const;
  void SetPanelText(int index, const QString& text);
  // Panel 0 takes this width, or more while its text needs it and panel 1's text
  // leaves room; panel 1 fills the rest.
  void SetPanel0Width(int width);
  int PanelWidth(int index) const;

  bool SimplePanel() const { return FSimplePanel; }
  void SetSimplePanel(bool simple);
  QString SimpleText() const;
  void SetSimpleText(const QString& text);

  QSize sizeHint() const override;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void LayOut();
  QLabel* NewPanel();
  static int TextWidth(const QLabel& panel);

  QLabel* FPanels[2];
  QLabel* FSimple;
  int FPanel0Width = 0;
  bool FSimplePanel = false;
};

} // namespace pelrow
