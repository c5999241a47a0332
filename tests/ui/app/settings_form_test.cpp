// The Settings dialog on Qt's offscreen platform, over a live state of real values
// and two real boxes: what it shows, what acts at once, and what OK, Apply and
// the ways of cancelling leave behind.
#include "app/manual_time.h"
#include "app/qt/settings_form.h"
#include "app/send_engine.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_service.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/ui_application.h"

namespace pelrow {
namespace {

// The main window's live state as plain values, with the In and Out boxes.
class TLiveState final : public TSettingsTarget {
public:
  TLiveState() { SetBoxFont("DejaVu Sans Mono", 8); }

  bool MidiThru() const override { return FMidiThru; }
  void SetMidiThru(bool value) override { FMidiThru = value; }
  bool ActiveSensing() const override { return FActiveSensing; }
  void SetActiveSensing(bool value) override { FActiveSensing = value; }
  bool TimingClock() const override { return FTimingClock; }
  void SetTimingClock(bool value) override { FTimingClock = value; }
  int SendSpeed() const override { return FSendSpeed; }
  void SetSendSpeed(int value) override { FSendSpeed = value; }
  int MessageGap() const override { return FMessageGap; }
  void SetMessageGap(int value) override { FMessageGap = value; }
  bool SplitLongMessages() const override { return FSplit; }
  void SetSplitLongMessages(bool value) override { FSplit = value; }
  std::string BoxFontName() const override { return pelrow::BoxFontName(SXInput); }
  int BoxFontSize() const override { return pelrow::BoxFontSize(SXInput); }
  void SetBoxFont(const std::string& name, int pointSize) override {
    SetBoxesFont(SXInput, SXOutput, name, pointSize);
  }
  bool LogListsVisible() const override { return FLogLists; }
  void SetLogListsVisible(bool value) override { FLogLists = value; }
  bool SysExOnly() const override { return FSysExOnly; }
  void SetSysExOnly(bool value) override { FSysExOnly = value; }
  bool OneInstance() const override { return FOneInstance; }
  void SetOneInstance(bool value) override { FOneInstance = value; }

  std::string OutFontName() const { return SXOutput.Font().family().toStdString(); }
  int OutFontSize() const { return SXOutput.Font().pointSize(); }

  TVeskMemo SXInput;
  TVeskMemo SXOutput;
  bool FMidiThru = false;
  bool FActiveSensing = false;
  bool FTimingClock = false;
  int FSendSpeed = -500;
  int FMessageGap = 0;
  bool FSplit = false;
  bool FLogLists = true;
  bool FSysExOnly = false;
  bool FOneInstance = false;
};

class SettingsForm : public ::testing::Test {
protected:
  SettingsForm() {
    // The whole screen (800 x 600 on the offscreen platform), so that centring on
    // the main window keeps the dialog on the screen.
    Main.setGeometry(Main.screen()->availableGeometry());
    Main.show();
  }
  void Show() {
    Form.show();
    QApplication::processEvents();
  }
  std::string Label() const { return Form.LSendSpeed->text().toStdString(); }
  // The user picks the neighbouring entry of a list with the keyboard.
  static void ChooseOther(QComboBox* list) {
    const bool last = list->currentIndex() + 1 == list->count();
    QTest::keyClick(list, last ? Qt::Key_Up : Qt::Key_Down);
  }

  QApplication& FApp = test::UiApp(); // before any widget
  QMainWindow Main;
  TLiveState State;
  TSettingsForm Form{State, &Main};
};

TEST_F(SettingsForm, AToolWindowAboveTheMainWindowWithItsFontLists) {
  Show();
  EXPECT_EQ(Form.windowTitle(), "Settings");
  EXPECT_EQ(Form.windowType(), Qt::Tool);
  EXPECT_EQ(Form.parentWidget(), &Main);
  EXPECT_FALSE(Form.isModal());
  EXPECT_TRUE(Main.isEnabled());
  EXPECT_GE(Form.width(), 390);
  EXPECT_GE(Form.height(), 420);

  EXPECT_TRUE(Form.GBGeneral->font().bold());
  EXPECT_FALSE(Form.CBShowLog->font().bold());

  QStringList sizes;
  for (int i = 0; i < Form.CBFontSize->count(); ++i)
    sizes << Form.CBFontSize->itemText(i);
  EXPECT_EQ(sizes.join(','), "6,7,8,9,10,11,12,14,16,20");

  // Fixed-pitch families only, sorted, each once; the proportional desktop font is
  // not offered.
  ASSERT_GE(Form.CBFontName->count(), 1);
  QStringList names;
  for (int i = 0; i < Form.CBFontName->count(); ++i) {
    names << Form.CBFontName->itemText(i);
    EXPECT_TRUE(QFontDatabase::isFixedPitch(names.back())) << names.back().toStdString();
  }
  QStringList sorted = names;
  sorted.sort(Qt::CaseInsensitive);
  sorted.removeDuplicates();
  EXPECT_EQ(names, sorted);
  EXPECT_TRUE(names.contains("DejaVu Sans Mono"));
  EXPECT_FALSE(names.contains("DejaVu Sans"));
  EXPECT_EQ(Form.CBFontName->currentText(), "DejaVu Sans Mono");
  EXPECT_EQ(Form.CBFontSize->currentText(), "8");

  // Showing again does not fill the lists twice.
  Form.reject();
  Show();
  EXPECT_EQ(Form.CBFontName->count(), names.size());
  EXPECT_EQ(Form.CBFontSize->count(), 10);
}

TEST_F(SettingsForm, NoCaptionIsCutOffWithTheDesktopFont) {
  Show();
  const QRect client = Form.rect();
  for (QWidget* widget : Form.findChildren<QWidget*>()) {
    if (!widget->isVisible())
      continue;
    SCOPED_TRACE(widget->objectName().toStdString());
    const QRect inForm(widget->mapTo(&Form, QPoint(0, 0)), widget->size());
    EXPECT_TRUE(client.contains(inForm));
    auto* label = qobject_cast<QLabel*>(widget);
    if (label && label->wordWrap()) {
      EXPECT_GE(widget->height(), label->heightForWidth(widget->width()));
    } else if (label || qobject_cast<QAbstractButton*>(widget)) {
      EXPECT_GE(widget->width(), widget->sizeHint().width());
      EXPECT_GE(widget->height(), widget->sizeHint().height());
    }
  }
  // The longest speed text fits as well.
  Form.TBMidiSpeed->setValue(7);
  EXPECT_GE(Form.LSendSpeed->width(), Form.LSendSpeed->sizeHint().width());
}

TEST_F(SettingsForm, OpensCentredOnTheMainWindowEveryTime) {
  for (int opening = 0; opening < 2; ++opening) {
    Show();
    const QPoint offset = Form.frameGeometry().center() - Main.frameGeometry().center();
    // The first time the window frame is not known yet, which puts it off by the
    // frame's width.
    EXPECT_LE(offset.manhattanLength(), 4) << opening;
    Form.move(10, 10);
    Form.reject();
  }
}

TEST_F(SettingsForm, AStoredSpeedIsRoundedOnTheBarAtOnceAndCancelPutsItBack) {
  State.FSendSpeed = 300;
  Show();
  EXPECT_EQ(Form.TBMidiSpeed->value(), 2);
  EXPECT_EQ(State.FSendSpeed, 250);
  EXPECT_FALSE(Form.BApply->isEnabled());
  Form.BCancel->click();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(State.FSendSpeed, 300);

  // The second time the bar is already on 2; the speed is rounded all the same.
  Show();
  EXPECT_EQ(State.FSendSpeed, 250);
  Form.BDefault->click();
  EXPECT_EQ(Form.TBMidiSpeed->value(), -4);
  EXPECT_EQ(State.FSendSpeed, -500);
  EXPECT_EQ(Label(), "Speed: 989 bytes/s = 0.97 KB/s (1/3.2x)");
  EXPECT_TRUE(Form.BApply->isEnabled());
  Form.BApply->click();
  EXPECT_FALSE(Form.BApply->isEnabled());
  QTest::keyClick(Form.TBMidiSpeed, Qt::Key_End);
  EXPECT_EQ(State.FSendSpeed, 1000);
  // Closing by the title bar cancels back to the applied speed.
  Form.close();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(State.FSendSpeed, -500);
}

TEST_F(SettingsForm, MovingTheBarDuringASendChangesItsPaceFromTheNextChunk) {
  TLoopbackMidiService service;
  TMidiOutput output(service);
  output.SetDeviceID(0);
  output.Open();
  test::TManualClock clock;
  test::TManualEventLoop loop(clock);
  std::vector<uint32_t> chunkTimes;
  output.OnSendText = [&](TMidiOutput&, const std::string&) { chunkTimes.push_back(clock.Now); };
  TSendEngine engine(
      clock, loop, output, [](auto&&...) {}, [this] { return State.SendSpeed(); });

  State.FSendSpeed = -1000;
  Show();
  // The user moves the bar to "Very Fast" while the first long wait runs.
  loop.At(200, [&] { QTest::keyClick(Form.TBMidiSpeed, Qt::Key_End); });
  std::string line = "F0";
  for (int i = 0; i < 998; ++i)
    line += " 01";
  line += " F7";
  TVKStrings lines;
  lines.Add(line);
  TListSendSource source(lines);
  engine.BSendClick(source);

  ASSERT_EQ(chunkTimes.size(), 8u);
  // The wait under way (about 409 ms at the slowest speed) ends as planned; nothing
  // waits after it.
  EXPECT_GE(chunkTimes[1], 400u);
  EXPECT_EQ(chunkTimes[1], chunkTimes.back());
  EXPECT_EQ(State.FSendSpeed, 1000);
  Form.reject();
  EXPECT_EQ(State.FSendSpeed, -1000);
}

TEST_F(SettingsForm, AChosenFontShowsAtOnceAndCancelPutsTheOldOneBack) {
  Show();
  ASSERT_GE(Form.CBFontName->count(), 2);
  // Selecting in code, as showing the dialog does, changes nothing.
  const int shown = Form.CBFontName->currentIndex();
  Form.CBFontName->setCurrentIndex(shown == 0 ? 1 : 0);
  EXPECT_EQ(State.BoxFontName(), "DejaVu Sans Mono");
  Form.CBFontName->setCurrentIndex(shown);

  ChooseOther(Form.CBFontName);
  ChooseOther(Form.CBFontSize);
  const std::string chosen = Form.CBFontName->currentText().toStdString();
  EXPECT_NE(chosen, "DejaVu Sans Mono");
  EXPECT_EQ(State.BoxFontName(), chosen);
  EXPECT_EQ(State.OutFontName(), chosen);
  EXPECT_EQ(State.BoxFontSize(), 9);
  EXPECT_EQ(State.OutFontSize(), 9);
  EXPECT_TRUE(State.SXOutput.Font().fixedPitch());
  EXPECT_TRUE(Form.BApply->isEnabled());

  QTest::keyClick(&Form, Qt::Key_Escape);
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(State.BoxFontName(), "DejaVu Sans Mono");
  EXPECT_EQ(State.OutFontName(), "DejaVu Sans Mono");
  EXPECT_EQ(State.OutFontSize(), 8);
}

TEST_F(SettingsForm, AnAppliedFontStaysAfterCancel) {
  Show();
  ChooseOther(Form.CBFontName);
  const std::string applied = State.BoxFontName();
  ASSERT_NE(applied, "DejaVu Sans Mono");
  Form.BApply->click();
  ChooseOther(Form.CBFontSize);
  Form.BCancel->click();
  EXPECT_EQ(State.BoxFontName(), applied);
  EXPECT_EQ(State.OutFontName(), applied);
  EXPECT_EQ(State.OutFontSize(), 8);
}

TEST_F(SettingsForm, SizesOffTheListSelectTheNextOneUpOrTheLargest) {
  for (auto [stored, selected] : {std::pair{24, "20"}, std::pair{13, "14"}}) {
    State.SetBoxFont("DejaVu Sans Mono", stored);
    Show();
    EXPECT_EQ(Form.CBFontSize->currentText(), selected);
    EXPECT_EQ(State.BoxFontSize(), stored); // nothing changes until the user chooses
    Form.reject();
  }
}

TEST_F(SettingsForm, AFontThatIsNotInstalledKeepsItsNameWhenOnlyTheSizeIsChosen) {
  State.SetBoxFont("No Such Font", 8);
  Show();
  EXPECT_EQ(Form.CBFontName->currentIndex(), -1);
  ChooseOther(Form.CBFontSize);
  EXPECT_EQ(State.BoxFontName(), "No Such Font");
  EXPECT_EQ(State.OutFontSize(), 9);
  Form.accept();
  EXPECT_EQ(State.BoxFontName(), "No Such Font");
  EXPECT_EQ(State.BoxFontSize(), 9);
}

TEST_F(SettingsForm, CheckBoxesActOnlyOnApplyOrOk) {
  Show();
  EXPECT_TRUE(Form.CBShowLog->isChecked());
  for (QCheckBox* box : {Form.CBMidiThru, Form.CBAS, Form.CBMTC, Form.CBOnlySysEx, Form.CBShowLog,
                         Form.CBSplitSysEx}) {
    Form.BApply->setEnabled(false);
    box->click();
    EXPECT_TRUE(Form.BApply->isEnabled()) << box->objectName().toStdString();
  }
  Form.BCancel->click();
  EXPECT_FALSE(State.FMidiThru || State.FActiveSensing || State.FTimingClock || State.FSysExOnly ||
               State.FSplit);
  EXPECT_TRUE(State.FLogLists);

  // The next opening shows the live state again, then Apply hands over everything.
  Show();
  EXPECT_FALSE(Form.CBMidiThru->isChecked());
  EXPECT_FALSE(Form.BApply->isEnabled());
  for (QCheckBox* box : {Form.CBMidiThru, Form.CBAS, Form.CBMTC, Form.CBOnlySysEx, Form.CBShowLog,
                         Form.CBSplitSysEx})
    box->click();
  Form.BApply->click();
  EXPECT_TRUE(State.FMidiThru && State.FActiveSensing && State.FTimingClock && State.FSysExOnly &&
              State.FSplit);
  EXPECT_FALSE(State.FLogLists);
  EXPECT_TRUE(Form.isVisible());
}

TEST_F(SettingsForm, TheOneInstanceBoxLeavesApplyAloneButOkAppliesIt) {
  Show();
  Form.CBOneInstance->click();
  EXPECT_FALSE(Form.BApply->isEnabled());
  QTest::keyClick(&Form, Qt::Key_Return); // OK is the default button
  EXPECT_FALSE(Form.isVisible());
  EXPECT_TRUE(State.FOneInstance);

  Show();
  EXPECT_TRUE(Form.CBOneInstance->isChecked());
  Form.CBOneInstance->click();
  Form.close();
  EXPECT_TRUE(State.FOneInstance);
}

} // namespace
} // namespace pelrow
