// The floating "Receiving bulk dump" panel as the receive pump drives it: placed
// over the In box when a dump begins, its two labels changed per message.
#pragma once

#include "app/receive_pump.h"

class QLabel;
class QWidget;

namespace pelrow {

class TBulkPanelWidget final : public TBulkPanel {
public:
  // panel floats inside its parent; it is centred over inBox, or over the area of
  // both boxes when the In box is narrower than the panel.
  TBulkPanelWidget(QWidget& panel, QLabel& progress, QLabel& rate, QWidget& outBox, QWidget& inBox);

  bool Visible() const override;
  void Show() override;
  void Hide() override;
  void SetTexts(const std::string& progress, const std::string& rate, bool immediate) override;

private:
  void Place();

  QWidget& FPanel;
  QLabel& FProgress;
  QLabel& FRate;
  QWidget& FOutBox;
  QWidget& FInBox;
};

} // namespace pelrow
