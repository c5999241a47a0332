// The main window as a user finds it: its size at a first start, the scroll bars of
// the boxes and logs, and the splitter position and log height it remembers.
#include "app/qt/pelrow_form.h"
#include "app/qt/status_bar.h"
#include "editor/qt/veskmemo.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/app/recording_form.h"
#include "ui/ui_application.h"

namespace pelrow {
namespace {

class PelrowFormLayout : public ::testing::Test {
protected:
  void SetUp() override { test::UiApp(); }

  // Shown as the program shows it, at the size the settings give.
  static std::unique_ptr<test::TRecordingForm> Start(TRegistryStore* settings = nullptr) {
    auto form = std::make_unique<test::TRecordingForm>(TPelrowStartup{{}, nullptr, {}, settings});
    form->SetErrorBox([](const std::string&) {});
    form->show();
    QApplication::processEvents();
    QApplication::processEvents();
    return form;
  }

  // Whether the widget is shown whole: no panel it sits in cuts any of it off.
  static bool Whole(const QWidget& widget, const QWidget& window) {
    if (!widget.isVisible() || widget.width() <= 0 || widget.height() <= 0)
      return false;
    for (const QWidget* outer = widget.parentWidget(); outer; outer = outer->parentWidget()) {
      if (!outer->rect().contains(QRect(widget.mapTo(outer, QPoint(0, 0)), widget.size())))
        return false;
      if (outer == &window)
        return true;
    }
    return false;
  }

  TScratchFolder Scratch;
};

TEST_F(PelrowFormLayout, AFirstStartShowsBothBoxesTheLogsAndTheStatusLineWhole) {
  auto form = Start();
  const QRect work = form->screen()->availableGeometry();
  EXPECT_TRUE(work.contains(form->frameGeometry())) << "within the screen";
  // Each box shows a line of 16 bytes, side by side at the same width.
  for (TVeskMemo* box : {form->SXOutput, form->SXInput}) {
    EXPECT_GE(box->VisibleCols(), 16 * 3 - 1) << box->objectName().toStdString();
    EXPECT_GE(box->VisibleLines(), 10) << box->objectName().toStdString();
    EXPECT_TRUE(Whole(*box, *form));
  }
  EXPECT_LE(std::abs(form->SXOutput->width() - form->SXInput->width()), 4);
  for (TVeskMemo* log : {form->LogOut, form->LogIn}) {
    EXPECT_GE(log->VisibleLines(), 2) << "a two-line report shows whole";
    EXPECT_TRUE(Whole(*log, *form));
  }
  EXPECT_TRUE(Whole(*form->PStatusBar, *form));
  // Nothing lies under the status bar.
  const QWidget* client = form->centralWidget();
  EXPECT_EQ(form->PStatusBar->mapTo(client, QPoint(0, form->PStatusBar->height())).y(),
            client->height());
}

TEST_F(PelrowFormLayout, BoxesScrollBothWaysAndLogsShowTheStartOfTheirLines) {
  auto form = Start();
  const std::string longLine(600, 'A');
  for (TVeskMemo* box : {form->SXOutput, form->SXInput})
    for (int i = 0; i < 5000; ++i)
      box->Lines().Add(longLine);
  for (int i = 0; i < 50; ++i)
    form->ShowStatus("Sent fully in 781 ms (20000000 bytes) " + longLine, TStatusSide::Out,
                     TStatusKind::Plain, false);
  QApplication::processEvents();

  for (TVeskMemo* box : {form->SXOutput, form->SXInput}) {
    SCOPED_TRACE(box->objectName().toStdString());
    for (QScrollBar* bar : {box->horizontalScrollBar(), box->verticalScrollBar()}) {
      EXPECT_TRUE(bar->isVisible());
      EXPECT_TRUE(bar->isEnabled());
    }
    // Select All takes the view to the end of the text; the bar shows where it is.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    EXPECT_GT(box->LeftCol(), 0);
    EXPECT_EQ(box->horizontalScrollBar()->value(), box->LeftCol());
    EXPECT_EQ(box->verticalScrollBar()->value(), box->TopLine());
  }

  TVeskMemo* log = form->LogOut;
  EXPECT_TRUE(log->verticalScrollBar()->isVisible());
  EXPECT_FALSE(log->horizontalScrollBar()->isVisible());
  EXPECT_EQ(log->LeftCol(), 0);
  // Nothing the user does in a log moves its text sideways.
  log->setFocus();
  for (const auto& [key, modifiers] :
       {std::pair{Qt::Key_A, Qt::ControlModifier}, std::pair{Qt::Key_End, Qt::ControlModifier},
        std::pair{Qt::Key_Right, Qt::NoModifier}})
    QTest::keyClick(log, key, modifiers);
  QWheelEvent sideways(QPointF(5, 5), log->mapToGlobal(QPointF(5, 5)), {}, QPoint(-120, 0),
                       Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(log->viewport(), &sideways);
  EXPECT_EQ(log->LeftCol(), 0);
  EXPECT_EQ(log->Lines()[log->Lines().Count() - 1].substr(0, 13), "Sent fully in");
}

// What the user set comes back at the next start, and again at the one after: the
// sizes the splitters take while the window is first laid out are never saved.
TEST_F(PelrowFormLayout, SplitterPositionAndLogHeightSurviveRestartsWithLogsShownOrHidden) {
  for (const bool shown : {true, false}) {
    SCOPED_TRACE(shown);
    const std::string file = Scratch.Path(shown ? "shown" : "hidden");
    {
      TRegistryStore store(file);
      store.Load();
      auto form = Start(&store);
      form->SetSplitterPos(300);
      form->SetLogListsHeight(90);
      form->SetLogListsVisible(shown);
      form->close();
    }
    for (int start = 0; start < 2; ++start) {
      TRegistryStore store(file);
      store.Load();
      auto form = Start(&store);
      EXPECT_EQ(form->LogListsVisible(), shown);
      EXPECT_EQ(form->SplitterPos(), 300);
      EXPECT_EQ(form->Splitter->sizes().value(0), 300);
      EXPECT_EQ(form->LogListsHeight(), 90);
      if (shown) {
        EXPECT_EQ(form->LogHSplitter->sizes().value(1), 90);
        EXPECT_EQ(form->LogVSplitter->sizes().value(0), 300) << "the logs follow the boxes";
      }
      form->close();
    }
  }
}

} // namespace
} // namespace pelrow
