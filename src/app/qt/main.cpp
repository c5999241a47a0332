// Program entry: our own options are handled first (without a display), then the
// application, its main window and the event loop.
#include "app/command_line.h"
#include "app/qt/pelrow_form.h"
#include "support/product_info.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

constexpr const char* kNoDisplay =
    "no display found (DISPLAY and WAYLAND_DISPLAY are unset).\n"
    "Start Pelrow from a desktop session, or under Xvfb: xvfb-run -a scripts/run\n";
// Set to a file name, the program saves a picture of its window there and ends;
// scripts/screenshot uses it for the README.
constexpr const char* kScreenshotVariable = "PELROW_SCREENSHOT";
constexpr int kScreenshotDelayMs = 1500;

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

bool DisplayAvailable() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

void ScheduleScreenshot(QWidget& window, const QString& fileName) {
  QTimer::singleShot(kScreenshotDelayMs, &window, [&window, fileName] {
    if (!window.grab().save(fileName))
      std::cerr << "could not save the screenshot to " << fileName.toStdString() << "\n";
    QApplication::quit();
  });
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
  if (!DisplayAvailable()) {
    std::cerr << programFile << ": " << kNoDisplay;
    return 1;
  }

  QApplication app(argc, argv); // takes Qt's own options out of argv
  QApplication::setApplicationDisplayName(QString::fromStdString(ProgramName()));
  // Qt's options are gone now, so every remaining non-option is a file name.
  TMidiServiceSetup midi = CreateMidiService(commandLine.Backend, PlatformMidiBackends());
  TPelrowStartup startup{ParseCommandLine({argv + 1, argv + argc}).FileNames,
                         std::move(midi.Service), std::move(midi.Messages)};
  TPelrowForm form(std::move(startup));
  form.show();
  if (Set(kScreenshotVariable))
    ScheduleScreenshot(form, QString::fromLocal8Bit(std::getenv(kScreenshotVariable)));
  return app.exec();
}
