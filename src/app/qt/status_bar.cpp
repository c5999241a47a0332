// Two-panel status bar with a single-text mode.
#include "app/qt/status_bar.h"

#include <QLabel>
#include <algorithm>

namespace pelrow {

TStatusBar::TStatusBar(QWidget* parent) : QFrame(parent) {
  FPanels[0] = NewPanel();
  FPanels[1] = NewPanel();
  FSimple = NewPanel();
  FSimple->hide();
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QLabel* TStatusBar::NewPanel() {
  auto* label = new QLabel(this);
  label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  // A long report is cut at the panel's edge instead of widening the window.
  label->setMinimumWidth(0);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  return label;
}

QString TStatusBar::PanelText(int index) const {
  return FPanels[index]->text();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
  FPanels[index]->setText(text);
  LayOut();
}

void TStatusBar::SetPanel0Width(int width) {
  FPanel0Width = std::max(0, width);
  LayOut();
}

int TStatusBar::PanelWidth(int index) const {
  return FPanels[index]->width();
}

void TStatusBar::SetSimplePanel(bool simple) {
  FSimplePanel = simple;
  FSimple->setVisible(simple);
  FPanels[0]->setVisible(!simple);
  FPanels[1]->setVisible(!simple);
}

QString TStatusBar::SimpleText() const {
  return FSimple->text();
}

void TStatusBar::SetSimpleText(const QString& text) {
  FSimple->setText(text);
}

QSize TStatusBar::sizeHint() const {
  return {0, fontMetrics().height() + 6};
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  LayOut();
}

// Room a panel needs to show its whole text.
int TStatusBar::TextWidth(const QLabel& panel) {
  if (panel.text().isEmpty())
    return 0;
  const QMargins margins = panel.contentsMargins();
  return panel.fontMetrics().horizontalAdvance(panel.text()) + margins.left() + margins.right() +
         2 * panel.margin() + panel.fontMetrics().averageCharWidth();
}

// Panel 0 keeps its width under the Out box, except that a text too long for it
// takes what panel 1's own text leaves free, so a progress report is not cut.
void TStatusBar::LayOut() {
  int w0 = std::min(FPanel0Width, width());
  const int needed = TextWidth(*FPanels[0]);
  if (needed > w0)
    w0 = std::max(w0, std::min(needed, width() - TextWidth(*FPanels[1])));
  FPanels[0]->setGeometry(0, 0, w0, height());
  FPanels[1]->setGeometry(w0, 0, width() - w0, height());
  FSimple->setGeometry(0, 0, width(), height());
}

} // namespace pelrow
