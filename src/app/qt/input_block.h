// Keeps the user's keys, clicks and shortcuts away from a window while it is busy
// with work that finishes on its own (a file loading in the background): the window
// still repaints, moves and closes, but its boxes and commands take no input.
#pragma once

#include <QObject>

class QWidget;

namespace pelrow {

class TInputBlock final : public QObject {
public:
  explicit TInputBlock(QWidget& window);
  ~TInputBlock() override;
  TInputBlock(const TInputBlock&) = delete;
  TInputBlock& operator=(const TInputBlock&) = delete;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget& FWindow;
};

} // namespace pelrow
