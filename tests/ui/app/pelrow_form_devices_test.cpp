// The main window with a MIDI system, a settings file and its companion windows:
// the device menus, devices that come and go, settings over two lifetimes of the
// window, the Settings dialog, the About window, the homepage and the hand-over of
// a later start.
#include "app/qt/pelrow_form.h"
#include "app/qt/settings_form.h"
#include "app/settings_target.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/loopback/loopback_service.h"
#include "support/manual_timer.h"
#include "support/one_instance.h"
#include "support/product_info.h"
#include "support/qt/splash_form.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <gtest/gtest.h>

#include "ui/app/recording_form.h"
#include "ui/ui_application.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow {
namespace {

// Runs the event loop until done() holds; false after a generous limit.
bool ProcessUntil(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QAction* ItemCaptioned(QMenu* menu, const QString& caption) {
  for (QAction* action : menu->actions())
    if (action->text() == caption)
      return action;
  return nullptr;
}

QStringList CheckedItems(QMenu* menu) {
  QStringList checked;
  for (QAction* action : menu->actions())
    if (action->isChecked())
      checked << action->text();
  return checked;
}

std::string LastLine(TVeskMemo* box) {
  return std::string(box->Lines().Empty() ? "" : box->Lines()[box->Lines().Count() - 1]);
}

class PelrowFormDevices : public ::testing::Test {
protected:
  void SetUp() override { test::UiApp(); }

  // A shown window over a loopback MIDI system whose deferred start-up has run.
  std::unique_ptr<test::TRecordingForm> Start(TRegistryStore* settings = nullptr,
                                              TOneInstance* oneInstance = nullptr) {
    auto service = std::make_shared<TLoopbackMidiService>();
    Loopback = service.get();
    auto form = std::make_unique<test::TRecordingForm>(
        TPelrowStartup{{}, std::move(service), {}, settings, oneInstance});
    form->SetErrorBox([this](const std::string& text) { ErrorBoxes.push_back(text); });
    form->show();
    QApplication::processEvents();
    QApplication::processEvents();
    return form;
  }

  // Chooses the item as the user does, and lets the window answer.
  static void Pick(TPelrowForm& form, const char* menu, const QString& caption) {
    QAction* item = ItemCaptioned(form.Menu(menu), caption);
    ASSERT_NE(item, nullptr) << caption.toStdString();
    item->trigger();
    QApplication::processEvents();
    QApplication::processEvents();
  }

  TLoopbackMidiService* Loopback = nullptr;
  std::vector<std::string> ErrorBoxes;
  TScratchFolder Scratch;
};

TEST_F(PelrowFormDevices, PickingTheLoopbackOpensAndChecksIt) {
  auto form = Start();
  QMenu* in = form->Menu("MidiIn1");
  QMenu* out = form->Menu("MidiOut1");
  EXPECT_EQ(CheckedItems(in), QStringList{"none"});
  EXPECT_EQ(CheckedItems(out), QStringList{"none"});

  Pick(*form, "MidiIn1", LoopbackPortName);
  Pick(*form, "MidiOut1", LoopbackPortName);
  EXPECT_TRUE(form->CurrentInput()->IsOpen());
  EXPECT_TRUE(form->CurrentOutput()->IsOpen());
  EXPECT_EQ(CheckedItems(in), QStringList{LoopbackPortName});
  EXPECT_EQ(CheckedItems(out), QStringList{LoopbackPortName});
  EXPECT_EQ(LastLine(form->LogIn), "Opened MIDI IN: Pelrow Loopback");
  EXPECT_EQ(LastLine(form->LogOut), "Opened MIDI OUT: Pelrow Loopback");

  // Picking the open device again changes nothing, although Qt toggled its mark.
  Pick(*form, "MidiIn1", LoopbackPortName);
  EXPECT_EQ(CheckedItems(in), QStringList{LoopbackPortName});
  EXPECT_EQ(LastLine(form->LogIn), "Opened MIDI IN: Pelrow Loopback");

  Pick(*form, "MidiIn1", "none");
  EXPECT_FALSE(form->CurrentInput()->IsOpen());
  EXPECT_EQ(CheckedItems(in), QStringList{"none"});
  EXPECT_EQ(LastLine(form->LogIn), "Closed MIDI IN: Pelrow Loopback");
}

TEST_F(PelrowFormDevices, PortsPluggedInAndOutAreFollowed) {
  auto form = Start();
  QMenu* in = form->Menu("MidiIn1");
  Pick(*form, "MidiIn1", LoopbackPortName);

  // Announced on the hub's own terms; the window rescans once from its event loop.
  Loopback->AddInput("Drum & Bass Synth", 0);
  ASSERT_TRUE(ProcessUntil([&] { return ItemCaptioned(in, "Drum && Bass Synth") != nullptr; }));
  EXPECT_TRUE(form->CurrentInput()->IsOpen()); // an earlier port did not close it
  EXPECT_EQ(CheckedItems(in), QStringList{LoopbackPortName});

  // The open port unplugged: "none" is checked again.
  Loopback->RemoveInput(LoopbackPortName);
  ASSERT_TRUE(ProcessUntil([&] { return ItemCaptioned(in, LoopbackPortName) == nullptr; }));
  EXPECT_FALSE(form->CurrentInput()->IsOpen());
  EXPECT_EQ(CheckedItems(in), QStringList{"none"});
}

TEST_F(PelrowFormDevices, SettingsAndDevicesComeBackAtTheNextStart) {
  const std::string file = Scratch.Path("registry");
  QRect placed;
  {
    TRegistryStore store(file);
    store.Load();
    auto form = Start(&store);
    Loopback->AddInput("Synth");
    ASSERT_TRUE(ProcessUntil([&] { return ItemCaptioned(form->Menu("MidiIn1"), "Synth"); }));
    Pick(*form, "MidiIn1", "Synth");
    Pick(*form, "MidiOut1", LoopbackPortName);
    form->SettingsTarget().SetSendSpeed(250);
    form->SettingsTarget().SetBoxFont("DejaVu Sans Mono", 12);
    form->SettingsTarget().SetSysExOnly(true);
    form->setGeometry(40, 50, 600, 400);
    placed = form->geometry();
    form->close();
    EXPECT_TRUE(ErrorBoxes.empty()) << ErrorBoxes.front();
  }
  ASSERT_FALSE(ReadWholeFile(file).empty());

  // The next start has no "Synth" yet: it waits for it and opens it on arrival.
  TRegistryStore store(file);
  store.Load();
  auto form = Start(&store);
  EXPECT_EQ(form->SettingsTarget().SendSpeed(), 250);
  EXPECT_EQ(form->SettingsTarget().BoxFontSize(), 12);
  EXPECT_TRUE(form->SettingsTarget().SysExOnly());
  EXPECT_EQ(form->geometry().size(), placed.size());
  EXPECT_TRUE(form->CurrentOutput()->IsOpen());
  EXPECT_FALSE(form->CurrentInput()->IsOpen());
  EXPECT_EQ(LastLine(form->LogIn), "Waiting for MIDI IN Synth to be plugged in or switched on.");

  Loopback->AddInput("Synth");
  ASSERT_TRUE(ProcessUntil([&] { return form->CurrentInput()->IsOpen(); }));
  EXPECT_EQ(form->CurrentInput()->DeviceName(), "Synth");
  EXPECT_EQ(LastLine(form->LogIn), "Opened MIDI IN: Synth");
}

TEST_F(PelrowFormDevices, ASettingsFileThatCannotBeWrittenIsReportedAtClose) {
  WriteWholeFile(Scratch.Path("not-a-folder"), "x");
  TRegistryStore store(Scratch.Path("not-a-folder/registry"));
  store.Load();
  auto form = Start(&store);
  form->close();
  ASSERT_EQ(ErrorBoxes.size(), 1u);
  EXPECT_EQ(ErrorBoxes[0], store.LastError());
  EXPECT_EQ(LastLine(form->LogOut), "Error: " + store.LastError());
}

TEST_F(PelrowFormDevices, SettingsAboutAndHomepageOpenFromTheMenus) {
  auto form = Start();
  auto* settingsForm = new TSettingsForm(form->SettingsTarget(), form.get());
  form->SettingsForm = settingsForm;
  form->SetMidiThru(true);
  form->MenuItem("Settings1")->trigger();
  EXPECT_TRUE(settingsForm->isVisible());
  EXPECT_TRUE(settingsForm->CBMidiThru->isChecked());
  settingsForm->reject();

  TManualTimers timers;
  TSplashForm1 splash(timers.Factory());
  form->SplashForm1 = &splash;
  form->MenuItem("About1")->trigger();
  EXPECT_TRUE(splash.isVisible());
  EXPECT_FALSE(splash.TimerRunning()); // the About box stays until clicked

  // No browser anywhere: the user gets the address to type in.
  for (const char* variable :
       {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
    ::setenv(variable, Scratch.Path().c_str(), 1);
  form->MenuItem("PelrowHomepage1")->trigger();
  ASSERT_EQ(ErrorBoxes.size(), 1u);
  EXPECT_EQ(ErrorBoxes[0], "Could not open your Internet browser. Please enter this\r\nURL in the "
                           "address bar of your Internet browser:\r\n" +
                               HomepageURL());
}

// The later start is the program itself, meeting the window in a runtime folder
// of this test's own, so that no other running copy takes part. It starts in
// another folder than the window's and names its files relative to it.
TEST_F(PelrowFormDevices, ALaterStartOfTheProgramHandsItsLastFileToTheWindow) {
  TScratchFolder runtime;
  // The scope the program finds for an offscreen start with these settings.
  TOneInstance guard(TOneInstance::ScopeFor("offscreen", Scratch.Path("pelrow")), runtime.Path());
  ASSERT_TRUE(guard.CheckInstance({}));
  guard.SetActive(true);
  auto form = Start(nullptr, &guard);

  const pid_t later = ::fork();
  if (later == 0) {
    const std::string config = "XDG_CONFIG_HOME=" + Scratch.Path();
    const std::string runtimeFolder = "XDG_RUNTIME_DIR=" + runtime.Path();
    const char* argv[] = {PELROW_PROGRAM_FILE, "first.syx", "last.syx", nullptr};
    const char* envp[] = {"QT_QPA_PLATFORM=offscreen", config.c_str(), runtimeFolder.c_str(),
                          nullptr};
    ::alarm(20); // a start that does not hand over ends instead of running on
    if (::chdir(Scratch.Path().c_str()) == 0)
      ::execve(argv[0], const_cast<char**>(argv), const_cast<char**>(envp));
    ::_exit(127);
  }
  int status = -1;
  ASSERT_TRUE(ProcessUntil([&] { return ::waitpid(later, &status, WNOHANG) == later; }));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(ProcessUntil([&] { return !form->Loaded.empty(); }));
  EXPECT_EQ(form->Loaded, std::vector<std::string>{Scratch.Path("last.syx")});
  // The handing-over copy wrote no settings.
  EXPECT_FALSE(std::filesystem::exists(Scratch.Path("pelrow")));
}

} // namespace
} // namespace pelrow
