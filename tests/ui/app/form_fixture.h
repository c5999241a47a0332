// The real main window for the send, receive and file tests: over the loopback MIDI
// system, with a clock the test can move ahead and a bulk-dump timer it fires by
// hand, and helpers that answer the window's modal dialogs.
#pragma once

#include "app/qt/pelrow_form.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/loopback/loopback_service.h"
#include "support/manual_timer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "ui/ui_application.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelrow::test {

// Real time, plus whatever the test has skipped ahead: pacing runs as it would,
// and a test need not wait out a one-second quiet period.
class TJumpClock final : public TClock {
public:
  uint32_t NowMs() override { return SteadyClock().NowMs() + Skipped; }
  void Skip(uint32_t ms) { Skipped += ms; }
  uint32_t Skipped = 0;
};

// Runs action from the event loop as soon as ready holds; the window's send loop
// and its dialogs run the event loop, so this acts in the middle of them.
inline void When(std::function<bool()> ready, std::function<void()> action, int triesLeft = 1000) {
  QTimer::singleShot(2,
                     [ready = std::move(ready), action = std::move(action), triesLeft]() mutable {
                       if (ready())
                         action();
                       else if (triesLeft > 0)
                         When(std::move(ready), std::move(action), triesLeft - 1);
                     });
}

// Runs action on the modal dialog of type T as soon as the window has opened one.
template <typename T> void WhenModal(std::function<void(T&)> action) {
  When([] { return qobject_cast<T*>(QApplication::activeModalWidget()) != nullptr; },
       [action = std::move(action)] {
         action(*qobject_cast<T*>(QApplication::activeModalWidget()));
       });
}

class FormFixture : public ::testing::Test {
protected:
  void SetUp() override { UiApp(); }

  std::unique_ptr<TPelrowForm> Start(std::vector<std::string> files = {},
                                     TRegistryStore* settings = nullptr) {
    TPelrowStartup startup;
    startup.FileNames = std::move(files);
    startup.MidiService = OtherMidiSystem ? OtherMidiSystem : Service;
    startup.Settings = settings;
    startup.Clock = &Clock;
    startup.Timers = Timers.Factory();
    auto form = std::make_unique<TPelrowForm>(std::move(startup));
    form->SetErrorBox([this](const std::string& text) { ErrorBoxes.push_back(text); });
    form->resize(800, 600);
    form->show();
    QApplication::processEvents();
    return form;
  }

  // Opens "Pelrow Loopback" on both sides, as a user without hardware would, to
  // watch in the In box what the Out box sends.
  static void OpenLoopback(TPelrowForm& form) {
    for (const char* menu : {"MidiOut1", "MidiIn1"})
      for (QAction* item : form.Menu(menu)->actions())
        if (item->text() == LoopbackPortName)
          item->trigger();
    QApplication::processEvents(); // the menus act on a click once it has been handled
    ASSERT_TRUE(form.CurrentOutput()->IsOpen());
    ASSERT_TRUE(form.CurrentInput()->IsOpen());
  }

  // Answers the next folder dialog with folder.
  static void ChooseFolder(const std::string& folder) {
    WhenModal<QFileDialog>([folder](QFileDialog& dialog) {
      EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
      dialog.selectFile(QString::fromStdString(folder));
      static_cast<QDialog&>(dialog).accept();
    });
  }

  // Answers the next question whether files that exist may be replaced; then runs
  // answered.
  static void AnswerReplace(QMessageBox::StandardButton answer,
                            std::function<void()> answered = {}) {
    WhenModal<QMessageBox>([answer, answered](QMessageBox& box) {
      EXPECT_TRUE(box.text().contains("already exist")) << box.text().toStdString();
      box.button(answer)->click();
      if (answered)
        answered();
    });
  }

  // Runs the event loop until done holds; false after a generous limit.
  static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

  // The bulk-dump timer, the only one the window makes through its factory.
  TManualTimer& BulkTimer() { return Timers[0]; }

  static std::vector<std::string> LinesOf(const TVeskMemo* box) {
    std::vector<std::string> lines;
    for (int i = 0; i < box->Lines().Count(); ++i)
      lines.emplace_back(box->Lines()[i]);
    return lines;
  }

  static std::string LastLine(const TVeskMemo* box) {
    return std::string(box->Lines().Empty() ? "" : box->Lines()[box->Lines().Count() - 1]);
  }

  std::shared_ptr<TLoopbackMidiService> Service = std::make_shared<TLoopbackMidiService>();
  // The window's MIDI system when a test gives it one instead of the loopback.
  std::shared_ptr<TMidiService> OtherMidiSystem;
  TJumpClock Clock;
  TManualTimers Timers;
  std::vector<std::string> ErrorBoxes;
};

} // namespace pelrow::test
