// The splash and About window on Qt's offscreen platform, its timer fired by hand.
#include "support/manual_timer.h"
#include "support/product_info.h"
#include "support/qt/splash_form.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace pelrow {
namespace {

// One application for the whole run, never destroyed (Qt's exit handlers run after
// the test framework is gone).
QApplication& App() {
  static int argc = 1;
  static char name[] = "test_ui_support";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class Splash : public ::testing::Test {
protected:
  QApplication& FApp = App(); // before any widget
  TManualTimers Timers;
  TSplashForm1 Form{Timers.Factory()};
};

TEST_F(Splash, StartUpShowingLastsUntilItsTimerFires) {
  Form.ShowAtStartUp(false);
  EXPECT_TRUE(Form.isVisible());
  EXPECT_EQ(TSplashForm::CurrentSplash(), &Form);
  EXPECT_EQ(Form.size(), QSize(310, 128));
  EXPECT_EQ(Timers[0].Interval, 3000u);
  EXPECT_EQ(Form.LVersion().text().toStdString(), "V" + ShortVersion() + " build " + BuildNumber());
  EXPECT_EQ(Form.LVersion().pos(), QPoint(8, 113));

  // A main window minimised meanwhile does not take the splash with it.
  QMainWindow main;
  main.show();
  main.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(Form.isVisible());

  Timers[0].Fire();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(TSplashForm::CurrentSplash(), nullptr);
}

TEST_F(Splash, AClickClosesItEarly) {
  Form.ShowAtStartUp(false);
  QTest::mouseClick(&Form, Qt::LeftButton, {}, QPoint(100, 50));
  EXPECT_FALSE(Form.isVisible());
  EXPECT_FALSE(Timers[0].Active());
}

TEST_F(Splash, AHandingOverCopyNeverShowsIt) {
  Form.ShowAtStartUp(true);
  EXPECT_FALSE(Form.isVisible());
  EXPECT_FALSE(Timers[0].Active());
}

TEST_F(Splash, TheAboutBoxStaysUntilClicked) {
  Form.ShowAtStartUp(false);
  const QString startUpVersion = Form.LVersion().text();
  Timers[0].Fire();
  Form.ShowAbout();
  EXPECT_TRUE(Form.isVisible());
  EXPECT_FALSE(Timers[0].Active());
  EXPECT_FALSE(Form.StartUpShowing());
  EXPECT_EQ(Form.LVersion().text(), startUpVersion);
  QTest::mouseClick(&Form, Qt::LeftButton);
  EXPECT_FALSE(Form.isVisible());
}

} // namespace
} // namespace pelrow
