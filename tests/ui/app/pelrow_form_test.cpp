// The real main window on Qt's offscreen platform: menus, start-up, context menu,
// status line, action logs and the coupled splitters.
#include "app/qt/pelrow_form.h"
#include "app/qt/status_bar.h"
#include "editor/qt/veskmemo.h"
#include "support/file_name_text.h"
#include "support/qt/latin1_text.h"
#include "support/text_format.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/app/recording_form.h"
#include "ui/ui_application.h"

namespace pelrow {
namespace {

class PelrowForm : public ::testing::Test {
protected:
  void SetUp() override { test::UiApp(); }

  // A shown window whose deferred start-up has run.
  std::unique_ptr<test::TRecordingForm> Start(std::vector<std::string> files = {},
                                              std::vector<TStartupReport> reports = {}) {
    auto form = std::make_unique<test::TRecordingForm>(
        TPelrowStartup{std::move(files), nullptr, std::move(reports)});
    form->SetErrorBox([this](const std::string& text) { ErrorBoxes.push_back(text); });
    form->resize(800, 600);
    form->show();
    QApplication::processEvents();
    return form;
  }

  static std::vector<std::string> LinesOf(TVeskMemo* box) {
    std::vector<std::string> lines;
    for (int i = 0; i < box->Lines().Count(); ++i)
      lines.emplace_back(box->Lines()[i]);
    return lines;
  }

  static std::string LastLine(TVeskMemo* box) {
    return std::string(box->Lines().Empty() ? "" : box->Lines()[box->Lines().Count() - 1]);
  }

  std::vector<std::string> ErrorBoxes;
};

struct TExpectedItem {
  const char* Name;
  const char* Caption;
  const char* Hint;
};

TEST_F(PelrowForm, MenuItemsCarryTheirCaptionsAndHints) {
  auto form = Start();
  const TExpectedItem menus[] = {
      {"File1", "&File", ""},       {"MidiOut1", "Midi &Out", ""}, {"MidiIn1", "Midi &In", ""},
      {"Options1", "&Options", ""}, {"Help1", "&Help", ""},
  };
  QStringList barTitles;
  for (QAction* action : form->menuBar()->actions())
    barTitles << action->text();
  EXPECT_EQ(barTitles, (QStringList{"&File", "Midi &Out", "Midi &In", "&Options", "&Help"}));
  for (const auto& m : menus)
    EXPECT_EQ(form->Menu(m.Name)->title().toStdString(), m.Caption) << m.Name;

  const TExpectedItem items[] = {
      {"Open1", "&Open", "Open a .syx file into the Midi Oout box"},
      {"SaveOutAs1", "&Save Midi Out As...", "Save the contents of the Midi Out area as .syx file"},
      {"SaveInAs1", "Save Midi &In As...", "Save the contents of the Midi In area as .syx file"},
      {"Exit1", "E&xit", "Exit the program"},
      {"Settings1", "Settings...", ""},
      {"MidiThru1", "MIDI &Thru", "Echos MIDI in to MIDI out"},
      {"EnableActiveSensing1", "Enable &Active Sensing",
       "When this option is checked, Active Sensing messages are received from MIDI. (off by "
       "default)"},
      {"EnableMidiTimeCode1", "Enable MIDI Time &Clock",
       "When this option is checked, Midi Time Code messages received from MIDI In . (off by "
       "default)"},
      {"Splitlongsysexmessages1", "Split long sys ex messages",
       "Split long sys ex messages when receiving or when loading a file"},
      {"ClearLogs1", "Clear Logs", ""},
      {"PelrowHomepage1", "&Homepage of Pelrow ", "https://pelrow.example.org/"},
      {"About1", "&About", ""},
      {"Copy1", "Copy", ""},
      {"Paste1", "Paste", ""},
      {"Cut1", "Cut", ""},
      {"Delete1", "Delete", ""},
      {"SelectAll1", "Select All", ""},
      {"Clear1", "Clear", ""},
      {"Send1", "Send", ""},
  };
  for (const auto& item : items) {
    QAction* action = form->MenuItem(item.Name);
    ASSERT_NE(action, nullptr) << item.Name;
    EXPECT_EQ(action->text().toStdString(), item.Caption) << item.Name;
    EXPECT_EQ(action->statusTip().toStdString(), item.Hint) << item.Name;
  }
  for (const char* check :
       {"MidiThru1", "EnableActiveSensing1", "EnableMidiTimeCode1", "Splitlongsysexmessages1"}) {
    EXPECT_TRUE(form->MenuItem(check)->isCheckable()) << check;
    EXPECT_FALSE(form->MenuItem(check)->isChecked()) << check;
  }
  EXPECT_TRUE(form->MenuItem("N1")->isSeparator());
  EXPECT_TRUE(form->MenuItem("N2")->isSeparator());
  EXPECT_TRUE(form->MenuItem("N3")->isSeparator());
}

TEST_F(PelrowForm, StartsWithEmptyBoxesExceptTheThreeCommentLinesAndHiddenBulkPanel) {
  auto form = Start();
  const std::vector<std::string> lines = LinesOf(form->SXOutput);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "// type here MIDI messages in hex");
  EXPECT_EQ(lines[1], "// notation, or use the File menu");
  EXPECT_EQ(lines[2], "// to open a .syx or .txt file.");
  for (size_t i = 3; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], "");
  EXPECT_EQ(form->SXInput->Lines().Count(), 0);
  EXPECT_EQ(form->LogOut->Lines().Count(), 0);
  EXPECT_EQ(form->LogIn->Lines().Count(), 0);
  EXPECT_FALSE(form->PRcvBulkDump->isVisible());
  EXPECT_EQ(form->BSend->text(), "Send (F4)");
  EXPECT_EQ(form->BClear->text(), "Clear Out");
  EXPECT_EQ(form->BClearInput->text(), "Clear In");
  EXPECT_EQ(form->PanelOutTop->text(), " Midi Out");
  EXPECT_EQ(form->PanelInTop->text(), " Midi In");
  EXPECT_TRUE(form->windowTitle().startsWith("Vesk's Pelrow "));
  EXPECT_EQ(form->FSendSpeed, -500);
  EXPECT_EQ(form->SplitThreshold(), -1);
  form->MenuItem("Splitlongsysexmessages1")->trigger();
  EXPECT_EQ(form->SplitThreshold(), 32);
}

TEST_F(PelrowForm, BoxesAndLogsHaveTheirEditorOptions) {
  auto form = Start();
  for (TVeskMemo* box : {form->SXOutput, form->SXInput, form->LogOut, form->LogIn}) {
    EXPECT_FALSE(box->GutterOptions().Visible()) << box->objectName().toStdString();
    EXPECT_FALSE(box->WantTabs()) << box->objectName().toStdString();
    EXPECT_TRUE(QFontInfo(box->Font()).fixedPitch()) << box->objectName().toStdString();
  }
  EXPECT_FALSE(form->SXOutput->AllowDragSelection());
  EXPECT_TRUE(form->SXInput->AllowDragSelection());
  EXPECT_FALSE(form->SXOutput->ReadOnly());
  EXPECT_FALSE(form->SXInput->ReadOnly());
  for (TVeskMemo* log : {form->LogOut, form->LogIn}) {
    EXPECT_TRUE(log->ReadOnly());
    EXPECT_EQ(log->Scrollbars(), TVKScrolls::sbVertical);
  }
}

TEST_F(PelrowForm, OnlyTheLastCommandLineFileIsOpened) {
  auto form = Start({"first.syx", "second.txt", "last file.mid"});
  EXPECT_EQ(form->Loaded, std::vector<std::string>{"last file.mid"});
  auto plain = Start();
  EXPECT_TRUE(plain->Loaded.empty());
}

TEST_F(PelrowForm, TheMidiSystemChosenAtStartIsReportedInTheOutLog) {
  auto form = Start({}, {{"MIDI system: JACK"}});
  EXPECT_EQ(LinesOf(form->LogOut), std::vector<std::string>{"MIDI system: JACK"});
  EXPECT_TRUE(ErrorBoxes.empty());
}

TEST_F(PelrowForm, AStartErrorRaisesItsBoxAndStaysInTheStatusLine) {
  auto form = Start(
      {}, {{"MIDI system: Loopback"}, {"Cannot use ALSA: no sequencer", TStatusKind::ErrorBox}});
  EXPECT_EQ(LinesOf(form->LogOut), (std::vector<std::string>{
                                       "MIDI system: Loopback",
                                       "Error: Cannot use ALSA: no sequencer",
                                   }));
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Error: Cannot use ALSA: no sequencer");
  EXPECT_EQ(ErrorBoxes, std::vector<std::string>{"Cannot use ALSA: no sequencer"});
}

TEST_F(PelrowForm, LogsShowAtLeastTwoWholeLinesWhateverTheFont) {
  auto form = Start();
  for (TVeskMemo* log : {form->LogOut, form->LogIn})
    EXPECT_GE(log->viewport()->height(), 2 * log->LineHeight()) << log->objectName().toStdString();
  QFont large = form->LogIn->Font();
  large.setPointSize(24);
  form->LogIn->SetFont(large);
  QApplication::processEvents();
  EXPECT_GE(form->LogIn->viewport()->height(), 2 * form->LogIn->LineHeight());
}

TEST_F(PelrowForm, StatusPanelAndLogShowEveryByteAlike) {
  auto form = Start();
  form->ShowStatus("caf\xE9", TStatusSide::Out, TStatusKind::Plain, false);
  EXPECT_EQ(form->PStatusBar->PanelText(0), QString::fromUtf8("caf\u00E9"));
  EXPECT_EQ(Latin1(LastLine(form->LogOut)), form->PStatusBar->PanelText(0));

  // A file name from the file system arrives as UTF-8 bytes.
  const std::string name = FileNameText("/tmp/Gr\xC3\xBC\xC3\x9F\x65.syx");
  form->ShowStatus(FormatText("Could not open %s", name), TStatusSide::In, TStatusKind::ErrorBox,
                   false);
  const QString shown = QString::fromUtf8("Error: Could not open /tmp/Gr\u00FC\u00DFe.syx");
  EXPECT_EQ(form->PStatusBar->PanelText(1), shown);
  EXPECT_EQ(Latin1(LastLine(form->LogIn)), shown);
  ASSERT_EQ(ErrorBoxes.size(), 1u);
  EXPECT_EQ(Latin1(ErrorBoxes[0]), shown.mid(7));
}

// Opens the context menu on box as a right click would and returns the state of
// each item as "name:visible/enabled".
std::map<std::string, std::pair<bool, bool>> PopupOn(TPelrowForm& form, TVeskMemo* box) {
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                          box->viewport()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(box->viewport(), &click);
  EXPECT_TRUE(form.Popup1->isVisible());
  std::map<std::string, std::pair<bool, bool>> states;
  for (QAction* action : form.Popup1->actions())
    if (!action->isSeparator())
      states[action->objectName().toStdString()] = {action->isVisible(), action->isEnabled()};
  form.Popup1->close();
  return states;
}

TEST_F(PelrowForm, ContextMenuOffersWhatEachBoxAllows) {
  auto form = Start();
  QApplication::clipboard()->clear();
  auto out = PopupOn(*form, form->SXOutput);
  EXPECT_EQ(out["Send1"], std::make_pair(true, true));
  EXPECT_EQ(out["Paste1"], std::make_pair(true, false)); // clipboard holds no text
  EXPECT_EQ(out["Copy1"], std::make_pair(true, false));  // nothing selected
  EXPECT_EQ(out["Cut1"], std::make_pair(true, false));

  QApplication::clipboard()->setText("F0 7E 7F 06 01 F7");
  form->SXInput->Lines().Add("F8");
  form->SXInput->SelectAll();
  auto in = PopupOn(*form, form->SXInput);
  EXPECT_FALSE(in["Send1"].first);
  EXPECT_EQ(in["Paste1"], std::make_pair(true, true));
  EXPECT_EQ(in["Copy1"], std::make_pair(true, true));
  EXPECT_EQ(in["Cut1"], std::make_pair(true, true));
  EXPECT_EQ(in["Delete1"], std::make_pair(true, true));

  for (TVeskMemo* log : {form->LogOut, form->LogIn}) {
    auto states = PopupOn(*form, log);
    for (const char* hidden : {"Cut1", "Delete1", "Paste1", "Send1"})
      EXPECT_FALSE(states[hidden].first) << hidden;
    for (const char* shown : {"Copy1", "SelectAll1", "Clear1"})
      EXPECT_TRUE(states[shown].first) << shown;
  }
}

TEST_F(PelrowForm, ContextMenuOffersPasteFromTheBoxesOwnClipboard) {
  auto form = Start();
  QApplication::clipboard()->setText("F8");
  auto clipboard = std::make_shared<TVKMemoryClipboard>();
  form->SXOutput->SetClipboard(clipboard);
  EXPECT_EQ(PopupOn(*form, form->SXOutput)["Paste1"], std::make_pair(true, false));
  clipboard->SetText("F0 7E 7F 06 01 F7");
  QApplication::clipboard()->clear();
  EXPECT_EQ(PopupOn(*form, form->SXOutput)["Paste1"], std::make_pair(true, true));
}

TEST_F(PelrowForm, TheFourBoxesHaveNoBorder) {
  auto form = Start();
  for (TVeskMemo* box : {form->SXOutput, form->SXInput, form->LogOut, form->LogIn}) {
    EXPECT_EQ(box->BorderStyle(), TVKBorderStyle::bsNone) << box->objectName().toStdString();
    EXPECT_EQ(box->frameWidth(), 0) << box->objectName().toStdString();
  }
}

TEST_F(PelrowForm, ContextMenuCommandsActOnTheBoxTheyWereOpenedOn) {
  auto form = Start();
  form->ShowStatus("to out", TStatusSide::Out, TStatusKind::Plain, false);
  form->ShowStatus("to in", TStatusSide::In, TStatusKind::Plain, false);
  PopupOn(*form, form->LogIn);
  form->MenuItem("Clear1")->trigger(); // a read-only log can still be cleared
  EXPECT_EQ(form->LogIn->Lines().Count(), 0);
  EXPECT_EQ(LinesOf(form->LogOut), std::vector<std::string>{"to out"});

  PopupOn(*form, form->LogOut);
  form->MenuItem("SelectAll1")->trigger();
  PopupOn(*form, form->LogOut); // Copy is enabled now that there is a selection
  form->MenuItem("Copy1")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "to out");

  form->SXOutput->Clear();
  PopupOn(*form, form->SXOutput);
  form->MenuItem("Paste1")->trigger();
  EXPECT_EQ(LinesOf(form->SXOutput), std::vector<std::string>{"to out"});
}

TEST_F(PelrowForm, ShowStatusKindsReachPanelLogAndBox) {
  auto form = Start();
  form->ShowStatus("Sent 12 bytes", TStatusSide::Out, TStatusKind::Plain, false);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Sent 12 bytes");
  EXPECT_EQ(LastLine(form->LogOut), "Sent 12 bytes");

  form->ShowStatus("bad byte", TStatusSide::In, TStatusKind::Error, false);
  EXPECT_EQ(form->PStatusBar->PanelText(1), "Error: bad byte");
  EXPECT_EQ(LastLine(form->LogIn), "Error: bad byte");
  EXPECT_TRUE(ErrorBoxes.empty());

  form->ShowStatus("device busy", TStatusSide::Out, TStatusKind::ErrorBox, false);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Error: device busy");
  EXPECT_EQ(LastLine(form->LogOut), "Error: device busy");
  EXPECT_EQ(ErrorBoxes, std::vector<std::string>{"device busy"});

  // A device error: what failed, a line break, the system's reason.
  const std::string deviceError = "Could not open MIDI IN \"Synth\":\r\nDevice or resource busy";
  form->ShowStatus(deviceError, TStatusSide::In, TStatusKind::ErrorBox, false);
  EXPECT_EQ(form->PStatusBar->PanelText(1),
            "Error: Could not open MIDI IN \"Synth\": Device or resource busy");
  const std::vector<std::string> log = LinesOf(form->LogIn);
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"Error: Could not open MIDI IN \"Synth\":",
                                      "Device or resource busy"}));
  EXPECT_EQ(ErrorBoxes.back(), deviceError);

  const int inLines = form->LogIn->Lines().Count();
  form->ShowStatus("Receiving 40%", TStatusSide::In, TStatusKind::StatusOnly, true);
  EXPECT_EQ(form->PStatusBar->PanelText(1), "Receiving 40%");
  EXPECT_EQ(form->LogIn->Lines().Count(), inLines);

  const int outLines = form->LogOut->Lines().Count();
  form->ShowStatus("", TStatusSide::Out, TStatusKind::Plain, false);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "");
  EXPECT_EQ(form->LogOut->Lines().Count(), outLines);
  EXPECT_EQ(form->PStatusBar->PanelText(1), "Receiving 40%");

  // Plain units report through the same function.
  form->StatusReporter()("from a unit", TStatusSide::In, TStatusKind::Plain, false);
  EXPECT_EQ(LastLine(form->LogIn), "from a unit");
}

TEST_F(PelrowForm, HiddenLogsKeepEveryLineAndClearLogsEmptiesBoth) {
  auto form = Start();
  ASSERT_TRUE(form->LogListsVisible());
  form->SetLogListsVisible(false);
  EXPECT_FALSE(form->LogListsVisible());
  EXPECT_FALSE(form->LogPanel->isVisible());
  constexpr int kLines = 3000;
  for (int i = 0; i < kLines; ++i)
    form->ShowStatus("line " + std::to_string(i), TStatusSide::Out, TStatusKind::Plain, false);
  form->SetLogListsVisible(true);
  EXPECT_TRUE(form->LogPanel->isVisible());
  ASSERT_EQ(form->LogOut->Lines().Count(), kLines);
  EXPECT_EQ(form->LogOut->Lines()[0], "line 0");
  EXPECT_EQ(LastLine(form->LogOut), "line 2999");
  EXPECT_EQ(form->LogOut->Caret().Line, kLines - 1);

  form->ShowStatus("in", TStatusSide::In, TStatusKind::Plain, false);
  form->MenuItem("ClearLogs1")->trigger();
  EXPECT_EQ(form->LogOut->Lines().Count(), 0);
  EXPECT_EQ(form->LogIn->Lines().Count(), 0);
}

TEST_F(PelrowForm, ShownLogAreaTakesAtMostTwoThirdsOfTheOutBox) {
  auto form = Start();
  form->SetLogListsVisible(false);
  QApplication::processEvents();
  form->SetLogListsHeight(5000);
  const int outBoxHeight = form->SXOutput->height();
  form->SetLogListsVisible(true);
  QApplication::processEvents();
  EXPECT_EQ(form->LogListsHeight(), outBoxHeight * 2 / 3);
  EXPECT_EQ(form->LogPanel->height(), outBoxHeight * 2 / 3);

  form->SetLogListsVisible(false);
  form->SetLogListsHeight(60); // a modest height is kept as it is
  form->SetLogListsVisible(true);
  QApplication::processEvents();
  EXPECT_EQ(form->LogPanel->height(), 60);
}

// The x coordinate in the window of a widget's right edge.
int RightEdge(QWidget* widget, QWidget* window) {
  return widget->mapTo(window, QPoint(widget->width(), 0)).x();
}

TEST_F(PelrowForm, MovingEitherSplitterMovesTheOtherAndTheStatusSplit) {
  auto form = Start();
  auto drag = [](QSplitter* splitter, int dx) {
    QSplitterHandle* handle = splitter->handle(1);
    const QPoint middle(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle + QPoint(dx, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(dx, 0));
    QApplication::processEvents();
  };

  const int before = form->PanelOut->width();
  drag(form->Splitter, 120);
  EXPECT_EQ(form->PanelOut->width(), before + 120);
  EXPECT_EQ(form->LogOut->width(), form->PanelOut->width());
  EXPECT_EQ(form->PStatusBar->PanelWidth(0), RightEdge(form->PanelOut, form.get()) + 3);
  EXPECT_EQ(form->PStatusBar->PanelWidth(0) + form->PStatusBar->PanelWidth(1),
            form->PStatusBar->width());

  drag(form->LogVSplitter, -200);
  EXPECT_EQ(form->LogOut->width(), before - 80);
  EXPECT_EQ(form->PanelOut->width(), form->LogOut->width());
  EXPECT_EQ(form->PStatusBar->PanelWidth(0), RightEdge(form->PanelOut, form.get()) + 3);

  // A wider window widens the In side only, as a panel aligned left would.
  form->resize(1000, 600);
  QApplication::processEvents();
  EXPECT_EQ(form->PanelOut->width(), before - 80);
  EXPECT_EQ(form->LogOut->width(), before - 80);
}

TEST_F(PelrowForm, MenuHintReplacesThePanelsAndTheyReturnUnchanged) {
  auto form = Start();
  form->ShowStatus("out text", TStatusSide::Out, TStatusKind::StatusOnly, false);
  form->ShowStatus("in text", TStatusSide::In, TStatusKind::StatusOnly, false);
  QMenu* options = form->Menu("Options1");
  form->menuBar()->setActiveAction(options->menuAction());
  QApplication::processEvents();
  ASSERT_TRUE(options->isVisible());
  options->setActiveAction(form->MenuItem("MidiThru1"));
  QApplication::processEvents();
  EXPECT_TRUE(form->PStatusBar->SimplePanel());
  EXPECT_EQ(form->PStatusBar->SimpleText(), "Echos MIDI in to MIDI out");

  options->close();
  QApplication::processEvents();
  EXPECT_FALSE(form->PStatusBar->SimplePanel());
  EXPECT_EQ(form->PStatusBar->PanelText(0), "out text");
  EXPECT_EQ(form->PStatusBar->PanelText(1), "in text");
}

TEST_F(PelrowForm, ButtonsClearTheirBoxAndExitClosesTheWindow) {
  auto form = Start();
  form->SXInput->Lines().Add("F0 F7");
  form->BClearInput->click();
  EXPECT_EQ(form->SXInput->Lines().Count(), 0);
  EXPECT_GT(form->SXOutput->Lines().Count(), 0);
  form->BClear->click();
  EXPECT_EQ(form->SXOutput->Lines().Count(), 0);

  form->MenuItem("Exit1")->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace pelrow
