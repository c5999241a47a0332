// Keys seen by the window before its controls: a filter on the application that
// hands every key release meant for a widget of one window to a handler first.
#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

namespace pelrow {

class TKeyPreview final : public QObject {
public:
  // Installs itself on the application; removed again when destroyed.
  explicit TKeyPreview(QWidget& window);
  ~TKeyPreview() override;

  // Answers true when it took the key, which then goes no further. A key nobody
  // takes travels on to the widget's parents and comes here again at each step,
  // so what the handler does with a key it leaves must bear repeating.
  std::function<bool(QKeyEvent& event)> OnKeyUp;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget& FWindow;
};

} // namespace pelrow
