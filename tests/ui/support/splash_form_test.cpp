// The splash and About window on Qt's offscreen platform, its timer fired by hand.
#include "support/manual_timer.h"
#include "support/product_info.h"
#include "support/qt/splash_form.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/ui_application.h"

namespace pelrow {
namespace {

class Splash : public ::testing::Test {
protected:
  QApplication& FApp = test::UiApp(); // before any widget
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
