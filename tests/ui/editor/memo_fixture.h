// Shared set-up for the editor widget tests: a QApplication on the offscreen
// platform, timers fired by hand, and a clipboard held in memory.
#pragma once

#include "editor/qt/veskmemo.h"
#include "support/manual_timer.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pelrow {

// The application lives from the first test to the end of the run and is destroyed
// before Qt's own globals are.
class TQtEnvironment final : public ::testing::Environment {
public:
  void TearDown() override {
    delete FApplication;
    FApplication = nullptr;
  }
  QApplication& Application() {
    static int argc = 1;
    static char name[] = "test_ui_editor";
    static char* argv[] = {name, nullptr};
    if (!FApplication)
      FApplication = new QApplication(argc, argv);
    return *FApplication;
  }

private:
  QApplication* FApplication = nullptr;
};

inline QApplication& TestApplication() {
  static auto* environment =
      static_cast<TQtEnvironment*>(::testing::AddGlobalTestEnvironment(new TQtEnvironment));
  return environment->Application();
}

class MemoTest : public ::testing::Test {
protected:
  void SetUp() override {
    TestApplication();
    Clipboard = std::make_shared<TVKMemoryClipboard>();
    auto factory = [this] {
      auto timer = std::make_unique<TManualTimer>();
      Timers.push_back(timer.get());
      return std::unique_ptr<TTimer>(std::move(timer));
    };
    Memo = std::make_unique<TVeskMemo>(nullptr, factory, Clipboard);
    Memo->GutterOptions().SetVisible(false);
    Memo->resize(400, 300);
    Memo->show();
    Memo->activateWindow();
    Memo->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Memo.get()));
  }

  TManualTimer& BlinkTimer() { return *Timers.at(0); }
  TManualTimer& AutoScrollTimer() { return *Timers.at(1); }
  TManualTimer& RefreshTimer() { return *Timers.at(2); }

  QWidget* View() { return Memo->viewport(); }
  // Centre of a character cell in viewport coordinates.
  QPoint Cell(int col, int line) {
    return Memo->CellPosition(col, line) + QPoint(Memo->CharWidth() / 2, Memo->LineHeight() / 2);
  }
  std::string Text() { return Memo->Lines().Text(); }
  void SetLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += "line " + std::to_string(i) + "\r\n";
    Memo->Lines().SetText(text);
  }

  std::vector<TManualTimer*> Timers;
  std::shared_ptr<TVKMemoryClipboard> Clipboard;
  std::unique_ptr<TVeskMemo> Memo;
};

} // namespace pelrow
