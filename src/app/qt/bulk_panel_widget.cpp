#include "app/qt/bulk_panel_widget.h"

#include "support/qt/latin1_text.h"

#include <QLabel>
#include <QRect>
#include <QWidget>

#include <algorithm>

namespace pelrow {

namespace {

// The widget's rectangle in the coordinates of the panel's parent.
QRect RectIn(QWidget& parent, QWidget& widget) {
  return QRect(widget.mapTo(&parent, QPoint(0, 0)), widget.size());
}

} // namespace

TBulkPanelWidget::TBulkPanelWidget(QWidget& panel, QLabel& progress, QLabel& rate, QWidget& outBox,
                                   QWidget& inBox)
    : FPanel(panel), FProgress(progress), FRate(rate), FOutBox(outBox), FInBox(inBox) {}

bool TBulkPanelWidget::Visible() const {
  return FPanel.isVisible();
}

void TBulkPanelWidget::Show() {
  FProgress.clear();
  FRate.clear();
  Place();
  FPanel.show();
  FPanel.raise();
}

void TBulkPanelWidget::Hide() {
  FPanel.hide();
}

void TBulkPanelWidget::Place() {
  QWidget* parent = FPanel.parentWidget();
  if (!parent)
    return;
  QRect area = RectIn(*parent, FInBox);
  if (area.width() < FPanel.width())
    area = area.united(RectIn(*parent, FOutBox));
  const int left = area.left() + (area.width() - FPanel.width()) / 2;
  const int top = area.top() + (area.height() - FPanel.height()) / 2;
  FPanel.move(left, std::max(0, top));
}

void TBulkPanelWidget::SetTexts(const std::string& progress, const std::string& rate,
                                bool immediate) {
  FProgress.setText(Latin1(progress));
  FRate.setText(Latin1(rate));
  if (immediate)
    FPanel.repaint();
}

} // namespace pelrow
