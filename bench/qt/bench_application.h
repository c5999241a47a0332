// One application for every widget benchmark of the program, on Qt's offscreen
// platform; made by whichever benchmark runs first and never destroyed.
#pragma once

#include <QApplication>

namespace pelrow {

inline QApplication& BenchApplication() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
    return *existing;
  static int argc = 1;
  static char name[] = "pelrow_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *application;
}

} // namespace pelrow
