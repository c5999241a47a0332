// The start-up picture window: borderless, above everything, three seconds or
// until clicked; shown again as the About box, when only a click closes it.
#pragma once

#include "support/clock.h"

#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <memory>

namespace pelrow {

class TSplashForm : public QWidget {
public:
  static constexpr uint32_t SplashTimeMs = 3000;

  TSplashForm(const QPixmap& picture, const TTimerFactory& timers, QWidget* parent = nullptr);
  ~TSplashForm() override;

  // The start-up showing, with its timer; nothing for a copy of the program that
  // only hands its command line to the running one.
  void ShowAtStartUp(bool isSecondInstance);
  // The About box: the same window, without the timer.
  void ShowAbout();

  bool StartUpShowing() const { return FStartUp; }
  bool TimerRunning() const { return FTimer->Active(); }
  QLabel& LVersion() { return *FVersion; }
  // The splash that is up now, if any.
  static TSplashForm* CurrentSplash();

protected:
  virtual void AfterSplashShown() {}
  virtual void AfterSplashHidden() {}
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

private:
  void CloseSplash();

  QLabel* FImage;
  QLabel* FVersion;
  std::unique_ptr<TTimer> FTimer;
  bool FStartUp = false;
};

// Pelrow's own picture, drawn in code, with the version in white at the bottom left.
class TSplashForm1 final : public TSplashForm {
public:
  explicit TSplashForm1(const TTimerFactory& timers, QWidget* parent = nullptr);
};

// The 310 x 128 picture.
QPixmap DrawSplashPicture();

} // namespace pelrow
