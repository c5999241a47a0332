// Program entry: our own options are handled first, then the display is checked,
// all without the toolkit; a later start hands its files to the running copy when
// the user wants only one; then the application, its main window, the About window,
// the Settings dialog and the event loop.
#include "app/command_line.h"
#include "app/display_check.h"
#include "app/qt/display_probes.h"
#include "app/qt/pelrow_form.h"
#include "app/qt/settings_form.h"
#include "support/one_instance.h"
#include "support/product_info.h"
#include "support/qt/latin1_text.h"
#include "support/qt/qt_services.h"
#include "support/qt/splash_form.h"
#include "support/registry_store.h"
#include "support/safe_file.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

// Set to a file name, the program saves a picture of its window there and ends;
// scripts/screenshot uses it for the README.
constexpr const char* kScreenshotVariable = "PELROW_SCREENSHOT";
constexpr int kScreenshotDelayMs = 1500;
constexpr const char* kPlatformOption = "-platform";

void ScheduleScreenshot(QWidget& window, const QString& fileName) {
  QTimer::singleShot(kScreenshotDelayMs, &window, [&window, fileName] {
    if (!window.grab().save(fileName))
      std::cerr << "could not save the screenshot to " << fileName.toStdString() << "\n";
    QApplication::quit();
  });
}

// What start-up found before the window existed, in the order the user reads it;
// the last one stays in the status line. Settings that cannot be saved weigh more
// than the note on the MIDI system, and an error that raises its box comes last.
// The working folder, or empty when it cannot be named (it was removed).
std::string CurrentFolder() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::string() : folder.string();
}

std::vector<pelrow::TStartupReport> StartupReports(const pelrow::TRegistryStore& settings,
                                                   const pelrow::TMidiServiceSetup& midi) {
  using pelrow::TStatusKind;
  std::vector<pelrow::TStartupReport> reports;
  for (const std::string& message : midi.Messages)
    reports.push_back({message, TStatusKind::Plain});
  if (!settings.LastError().empty())
    reports.push_back(
        {settings.LastError(), settings.ReadOnly() ? TStatusKind::Plain : TStatusKind::Error});
  if (!midi.Error.empty())
    reports.push_back({midi.Error, TStatusKind::ErrorBox});
  return reports;
}

} // namespace

int main(int argc, char* argv[]) {
  using namespace pelrow;
  const std::string programFile = std::filesystem::path(argv[0]).filename().string();
  const TCommandLine commandLine = ParseCommandLine({argv + 1, argv + argc});
  if (!commandLine.Error.empty()) {
    std::cerr << programFile << ": " << commandLine.Error << "\n\n" << UsageText(programFile);
    return 2;
  }
  if (commandLine.ShowHelp) {
    std::cout << UsageText(programFile);
    return 0;
  }
  if (commandLine.ShowVersion) {
    std::cout << ProgramName() << " " << ProgramVersion() << "\n";
    return 0;
  }
  const TDisplayEnvironment environment = DisplayEnvironmentOfProcess();
  const TDisplayChoice display = ChooseDisplay(environment, PlatformDisplayProbes(), programFile);
  if (!display.Usable) {
    std::cerr << display.Error << "\n";
    return 1;
  }
  // Names are made absolute here, once: the running window that may get them works
  // in another folder, and the recent-files list must find them from anywhere.
  const std::vector<std::string> fileNames =
      AbsoluteFileNames(commandLine.FileNames, CurrentFolder());

  // A copy that hands its files to the running one ends here: it reads no settings,
  // opens no MIDI system and shows nothing. Only a window on the same display with
  // the same settings folder takes them.
  TOneInstance oneInstance(TOneInstance::ScopeFor(SessionDisplayName(environment, display),
                                                  FolderOf(DefaultRegistryFilePath())));
  oneInstance.CheckInstance(fileNames, ActivationTokenOfProcess());
  if (oneInstance.IsSecondInstance())
    return 0;

  // The command line is ours alone: Qt sees only the platform that answered, so no
  // file name is ever taken as one of Qt's options.
  std::vector<std::string> qtArguments{argv[0]};
  if (!display.QtPlatform.empty())
    qtArguments.insert(qtArguments.end(), {kPlatformOption, display.QtPlatform});
  std::vector<char*> qtArgv;
  for (std::string& argument : qtArguments)
    qtArgv.push_back(argument.data());
  qtArgv.push_back(nullptr);
  int qtArgc = static_cast<int>(qtArguments.size());
  QApplication app(qtArgc, qtArgv.data());
  QApplication::setApplicationDisplayName(Latin1(ProgramName()));

  TRegistryStore& settings = CurrentUserRegistry();
  TMidiServiceSetup midi = CreateMidiService(commandLine.Backend, PlatformMidiBackends(true));
  std::vector<TStartupReport> reports = StartupReports(settings, midi);
  TPelrowForm form(
      {fileNames, std::move(midi.Service), std::move(reports), &settings, &oneInstance});
  TSplashForm1 splashForm1(&MakeQtTimer);
  // The About window left open does not keep the program running.
  splashForm1.setAttribute(Qt::WA_QuitOnClose, false);
  form.SplashForm1 = &splashForm1;
  TSettingsForm settingsForm(form.SettingsTarget(), &form);
  form.SettingsForm = &settingsForm;
  form.show();
  // Shown after the main window, so that it is above it also where no window
  // manager keeps it on top.
  splashForm1.ShowAtStartUp(oneInstance.IsSecondInstance());
  if (const char* screenshot = std::getenv(kScreenshotVariable); screenshot && *screenshot)
    ScheduleScreenshot(form, QString::fromLocal8Bit(screenshot));
  return app.exec();
}
