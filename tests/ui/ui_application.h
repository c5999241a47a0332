// One QApplication for a whole widget test program, made on first use and never
// destroyed: tearing Qt down from the exit handlers, after the test framework is
// gone, crashes in Qt's input devices.
#pragma once

#include <QApplication>

namespace pelrow::test {

inline QApplication& UiApp() {
  // Another suite of the same program may have made it already.
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
    return *app;
  static int argc = 1;
  static char name[] = "pelrow_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

} // namespace pelrow::test
