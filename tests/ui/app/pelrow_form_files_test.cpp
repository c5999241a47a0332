// Files in the real main window: loading into the Out box, saving a box through the
// save dialog, the recent files under the File menu and their settings.
#include "form_fixture.h"

#include "support/product_info.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include "app/dump_samples.h"
#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/hex_notation.h"
#include "app/receive_pump.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

namespace pelrow::test {
namespace {

class PelrowFormFiles : public FormFixture {
protected:
  // The File menu's items after its own, which end with Exit: captions, "-" for a
  // separator.
  static std::vector<std::string> RecentItems(TPelrowForm& form) {
    std::vector<std::string> items;
    const QList<QAction*> actions = form.Menu("File1")->actions();
    qsizetype first = 0;
    while (first < actions.size() && actions[first]->objectName() != "Exit1")
      ++first;
    for (qsizetype i = first + 1; i < actions.size(); ++i)
      items.push_back(actions[i]->isSeparator() ? "-" : actions[i]->text().toStdString());
    return items;
  }

  static QAction* RecentItem(TPelrowForm& form, const std::string& caption) {
    for (QAction* action : form.Menu("File1")->actions())
      if (action->text().toStdString() == caption)
        return action;
    return nullptr;
  }

  // Answers the next save dialog with name, after checking what it offers.
  static void ChooseSaveName(const std::string& name) {
    WhenModal<QFileDialog>([name](QFileDialog& dialog) {
      EXPECT_EQ(dialog.windowTitle(), "Save Sys-Ex file");
      EXPECT_EQ(dialog.defaultSuffix(), "syx");
      EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
      dialog.selectFile(QString::fromStdString(name));
      static_cast<QDialog&>(dialog).accept();
    });
  }

  // Raw bytes of every kind a file may hold, about size long: data bytes before any
  // status, System Exclusive messages of many lengths (some with a timing clock
  // inside), notes, program changes and a lone F7.
  static std::string MixedDump(size_t size) {
    std::string bytes = "\x01\x02";
    for (size_t i = 0; bytes.size() < size; ++i) {
      bytes += '\xF0';
      const size_t length = 1 + (i * 131) % 3000;
      for (size_t k = 0; k < length; ++k)
        bytes += static_cast<char>(k == length / 2 && i % 5 == 0 ? 0xF8 : (i + k) & 0x7F);
      bytes += '\xF7';
      bytes += std::string("\x90\x3C\x40\xC0\x05", i % 3 == 0 ? 5 : 3);
      if (i % 7 == 0)
        bytes += '\xF7';
    }
    bytes.resize(size);
    return bytes;
  }

  static bool LogHas(TVeskMemo* log, const std::string& line) { return LogIndex(log, line) >= 0; }

  // Where the line first stands in the log, -1 when it is not there.
  static int LogIndex(TVeskMemo* log, const std::string& line) {
    const std::vector<std::string> lines = LinesOf(log);
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
  }

  // A System Exclusive message of length bytes filled with fill, as a box shows it.
  static std::string SysExLine(int length, int fill) {
    const char digits[] = "0123456789ABCDEF";
    std::string line = "F0";
    for (int i = 2; i < length; ++i)
      line += std::string(" ") + digits[(fill >> 4) & 7] + digits[fill & 15];
    return line + " F7";
  }

  // A box large enough that saving it takes a while: 20000 messages of 1000 bytes,
  // about 60 MB of text.
  static void FillLargeBox(TVeskMemo* box) {
    TVKStrings& lines = box->Lines();
    lines.BeginUpdate();
    lines.Clear();
    for (int i = 0; i < 20000; ++i)
      lines.Add(SysExLine(1000, i));
    lines.EndUpdate();
  }

  // The files of a box saved as separate files, each checked against the line its
  // number names: whole, and no temporary file among them. Answers how many.
  static size_t CheckSplitFiles(const std::string& folder, const std::vector<std::string>& box) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      const size_t number = std::stoul(name);
      EXPECT_TRUE(name.ends_with(".syx")) << name;
      if (number < 1 || number > box.size())
        ADD_FAILURE() << name;
      else
        EXPECT_EQ(ReadWholeFile(entry.path()), BytesOf(box[number - 1])) << name;
      ++count;
    }
    return count;
  }

  static std::string BytesOf(const std::string& line) {
    TVKStrings lines;
    lines.Add(line);
    THexParser parser;
    return SyxBytesOfLines(lines, parser);
  }

  TScratchFolder Folder;
};

TEST_F(PelrowFormFiles, ASyxFileLoadsIntoTheOutBoxAndTheInBoxSavesBackToTheSameBytes) {
  const std::string syx = std::string("\xF0\x41\x10\xF7\x90\x3C\x40", 7);
  WriteWholeFile(Folder.Path("dump & more.syx"), syx);
  auto form = Start();
  form->LoadFile(Folder.Path("dump & more.syx"));
  EXPECT_EQ(LinesOf(form->SXOutput), (std::vector<std::string>{"F0 41 10 F7", "90 3C 40"}));
  EXPECT_EQ(LastLine(form->LogOut),
            Folder.Path("dump & more.syx") + " was loaded succesfully (7 bytes).");

  // What arrived is saved from the In box; the dialog adds the extension.
  for (const std::string& line : LinesOf(form->SXOutput))
    form->SXInput->Lines().Add(line);
  ChooseSaveName(Folder.Path("received"));
  form->MenuItem("SaveInAs1")->trigger();
  EXPECT_EQ(ReadWholeFile(Folder.Path("received.syx")), syx);
  EXPECT_EQ(LastLine(form->LogIn), Folder.Path("received.syx") + " saved succesfully (7 bytes).");
  EXPECT_EQ(RecentItems(*form),
            (std::vector<std::string>{"-", "received.syx", "dump && more.syx"}));
  EXPECT_EQ(RecentItem(*form, "received.syx")->statusTip().toStdString(),
            Folder.Path("received.syx"));

  // Saving over it asks first; No leaves the file and says nothing.
  form->SXInput->Lines().Clear();
  const int inLogLines = form->LogIn->Lines().Count();
  ChooseSaveName(Folder.Path("received.syx"));
  WhenModal<QMessageBox>([](QMessageBox& box) {
    EXPECT_TRUE(box.text().contains("already exists"));
    box.button(QMessageBox::No)->click();
  });
  form->MenuItem("SaveInAs1")->trigger();
  EXPECT_EQ(ReadWholeFile(Folder.Path("received.syx")), syx);
  EXPECT_EQ(form->LogIn->Lines().Count(), inLogLines);
}

TEST_F(PelrowFormFiles, OpenAndRecentFilesLoadAndReorderTheList) {
  WriteWholeFile(Folder.Path("a.syx"), std::string("\xF0\x01\xF7", 3));
  WriteWholeFile(Folder.Path("b.txt"), "90 3C 7F ; a note\r\n");
  auto form = Start();
  WhenModal<QFileDialog>([this](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Open Sys-Ex File");
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    dialog.selectFile(QString::fromStdString(Folder.Path("a.syx")));
    static_cast<QDialog&>(dialog).accept();
  });
  form->MenuItem("Open1")->trigger();
  EXPECT_EQ(LinesOf(form->SXOutput), std::vector<std::string>{"F0 01 F7"});
  form->LoadFile(Folder.Path("b.txt"));
  EXPECT_EQ(form->SXOutput->Lines()[0], "90 3C 7F ; a note");
  EXPECT_EQ(RecentItems(*form), (std::vector<std::string>{"-", "b.txt", "a.syx"}));

  RecentItem(*form, "a.syx")->trigger();
  QApplication::processEvents();
  EXPECT_EQ(LinesOf(form->SXOutput), std::vector<std::string>{"F0 01 F7"});
  EXPECT_EQ(RecentItems(*form), (std::vector<std::string>{"-", "a.syx", "b.txt"}));
}

TEST_F(PelrowFormFiles, RecentFilesComeFromTheSettingsAndGoBackOnClose) {
  WriteWholeFile(Folder.Path("kept.syx"), std::string("\xF8", 1));
  WriteWholeFile(Folder.Path("new.syx"), std::string("\xFE", 1));
  TRegistryStore settings(Folder.Path("registry"));
  const std::string key = "\\Software\\" + AppRegPath() + "\\MRUList";
  settings.WriteValue(key, "File0", TRegValue::FromText(Folder.Path("gone.syx")));
  settings.WriteValue(key, "File1", TRegValue::FromText(Folder.Path("kept.syx")));

  auto form = Start({}, &settings);
  EXPECT_EQ(RecentItems(*form), (std::vector<std::string>{"-", "kept.syx"}));
  form->LoadFile(Folder.Path("new.syx"));
  form->close();
  EXPECT_EQ(settings.ValueNames(key), (std::vector<std::string>{"File0", "File1"}));
  EXPECT_EQ(settings.ReadValue(key, "File0")->Text, Folder.Path("new.syx"));
  EXPECT_EQ(settings.ReadValue(key, "File1")->Text, Folder.Path("kept.syx"));
}

TEST_F(PelrowFormFiles, ACommandLineFileThatCannotBeLoadedIsReported) {
  auto form = Start({Folder.Path("first.syx"), Folder.Path("missing.syx")});
  EXPECT_EQ(ErrorBoxes, std::vector<std::string>{"Could not open " + Folder.Path("missing.syx") +
                                                 ": No such file or directory"});
  EXPECT_EQ(form->SXOutput->Lines()[0], "// type here MIDI messages in hex");
  EXPECT_EQ(RecentItems(*form), std::vector<std::string>{});
}

// A large file loads in the background: the event loop goes on turning, the box
// takes no typing meanwhile, and the lines are those that loading it at once gives.
TEST_F(PelrowFormFiles, ALargeFileLoadsWhileTheWindowTurnsAndGivesTheLinesOfALoadAtOnce) {
  const std::string path = Folder.Path("mixed.syx");
  WriteWholeFile(path, MixedDump(size_t(3) << 20));
  auto form = Start();
  form->SetSplitLongMessages(true);
  int ticksWhileLoading = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticksWhileLoading += form->Loading(); });
  ticker.start(0);
  const std::vector<std::string> before = LinesOf(form->SXOutput);

  form->LoadFile(path);
  ASSERT_TRUE(form->Loading());
  QTest::keyClick(form->SXOutput, Qt::Key_A);
  EXPECT_EQ(LinesOf(form->SXOutput), before);
  ASSERT_TRUE(WaitFor([&] { return !form->Loading(); }));
  EXPECT_GT(ticksWhileLoading, 0);

  TFileLoader atOnce(Clock);
  TVKStrings expected;
  ASSERT_TRUE(atOnce.LoadFile(path, expected, form->SplitThreshold()));
  ASSERT_EQ(form->SXOutput->Lines().Count(), expected.Count());
  for (int i = 0; i < expected.Count(); ++i)
    ASSERT_EQ(form->SXOutput->Lines()[i], expected[i]) << "line " << i;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(LogHas(form->LogOut, "Loading " + path + "..."));
  EXPECT_TRUE(LastLine(form->LogOut).starts_with(path + " was loaded succesfully in "));
  EXPECT_TRUE(LastLine(form->LogOut).ends_with(" ms (3145728 bytes)"));
  EXPECT_EQ(RecentItems(*form), (std::vector<std::string>{"-", "mixed.syx"}));
}

// Closing the window while a file loads drops the load: the box keeps its text,
// nothing is reported afterwards and the file does not become a recent one.
TEST_F(PelrowFormFiles, ClosingTheWindowWhileAFileLoadsCancelsTheLoad) {
  const std::string path = Folder.Path("big.syx");
  WriteWholeFile(path, MixedDump(size_t(8) << 20));
  auto form = Start();
  const std::vector<std::string> before = LinesOf(form->SXOutput);
  form->LoadFile(path);
  ASSERT_TRUE(form->Loading());
  form->close();
  EXPECT_FALSE(form->Loading());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QTest::qWait(50);
  EXPECT_EQ(LinesOf(form->SXOutput), before);
  EXPECT_TRUE(LastLine(form->LogOut).starts_with("Loading "));
  EXPECT_EQ(RecentItems(*form), std::vector<std::string>{});
  EXPECT_TRUE(ErrorBoxes.empty());
}

// A large box is saved in the background. Until it has ended, the window takes no
// clicks, MIDI that arrives waits, and a file handed over to open waits too: the file
// is the box as it was when Save began, and what came meanwhile follows it in the
// box, in order, once the save has been reported.
TEST_F(PelrowFormFiles, ALargeBoxSavesInTheBackgroundWhileWhatArrivesWaitsItsTurn) {
  auto form = Start();
  OpenLoopback(*form);
  FillLargeBox(form->SXInput);
  form->SXInput->Lines().Put(7, "F0 ZZ 01 F7");
  const TVKStrings atStart = form->SXInput->Lines();
  const std::vector<std::string> outBox = LinesOf(form->SXOutput);
  WriteWholeFile(Folder.Path("next.syx"), std::string("\xC0\x05", 2));
  std::vector<uint8_t> arriving{0x90, 0x3C, 0x40};
  std::vector<std::string> arrivingLines{"90 3C 40"};
  for (int i = 0; i < 12; ++i) {
    arriving.push_back(0xF0);
    arriving.insert(arriving.end(), 98, static_cast<uint8_t>(i));
    arriving.push_back(0xF7);
    arrivingLines.push_back(SysExLine(100, i));
  }

  const std::string path = Folder.Path("in.syx");
  ChooseSaveName(path);
  form->MenuItem("SaveInAs1")->trigger();
  ASSERT_TRUE(form->Saving());
  const uint64_t handledBefore = form->ReceivePump().HandledEvents();
  ASSERT_TRUE(Service->InjectInput(LoopbackPortName, arriving));
  form->LoadFile(Folder.Path("next.syx"));
  QTest::mouseClick(form->BClearInput, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] {
    return form->ReceivePump().HandledEvents() == handledBefore + 13 || !form->Saving();
  }));
  EXPECT_TRUE(form->Saving()) << "the input came only after the save";
  EXPECT_EQ(form->SXInput->Lines().Count(), atStart.Count());
  EXPECT_EQ(LinesOf(form->SXOutput), outBox);
  ASSERT_TRUE(WaitFor([&] { return !form->Saving(); }));

  THexParser parser;
  EXPECT_EQ(ReadWholeFile(path), SyxBytesOfLines(atStart, parser));
  EXPECT_TRUE(LogHas(form->LogOut, "Error: line 8:5: Unexpected characters: \"ZZ\""));
  const int savedAt = LogIndex(form->LogIn, path + " saved succesfully (19999003 bytes).");
  ASSERT_GE(savedAt, 0);
  EXPECT_EQ(LogIndex(form->LogIn, "Received 100 bytes succesfully."), savedAt + 1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The dump that came meanwhile is collected now and lands once the input is quiet.
  Clock.Skip(TReceivePump::BulkTimerIntervalMs);
  BulkTimer().Fire();
  const std::vector<std::string> inBox = LinesOf(form->SXInput);
  ASSERT_EQ(inBox.size(), atStart.Count() + arrivingLines.size());
  for (int i = 0; i < atStart.Count(); ++i)
    ASSERT_EQ(inBox[i], atStart[i]) << "line " << i;
  EXPECT_EQ(std::vector<std::string>(inBox.begin() + atStart.Count(), inBox.end()), arrivingLines);
  EXPECT_TRUE(
      WaitFor([&] { return LinesOf(form->SXOutput) == std::vector<std::string>{"C0 05"}; }));
}

// Closing the window while a box is saved stops the save: the earlier file stays as
// it was, no temporary file is left beside it, and nothing more is reported.
TEST_F(PelrowFormFiles, ClosingTheWindowWhileABoxSavesLeavesTheEarlierFile) {
  const std::string path = Folder.Path("box.txt");
  WriteWholeFile(path, "earlier\n");
  auto form = Start();
  FillLargeBox(form->SXOutput);
  const int outLogLines = form->LogOut->Lines().Count();
  form->SaveBoxAs(TStatusSide::Out, path);
  ASSERT_TRUE(form->Saving());
  form->close();
  EXPECT_FALSE(form->Saving());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QTest::qWait(50);
  EXPECT_EQ(ReadWholeFile(path), "earlier\n");
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
    files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"box.txt"});
  EXPECT_EQ(form->LogOut->Lines().Count(), outLogLines);
  EXPECT_EQ(RecentItems(*form), std::vector<std::string>{});
  EXPECT_TRUE(ErrorBoxes.empty());
}

// Saving a large box as separate files reads the box, looks for files it would
// replace and writes in the background, and asks in between. MIDI that arrives
// meanwhile waits while the box is read and while it is written: the files are the
// messages of the box as it was when the save began, and what came follows them in
// the box, in order.
TEST_F(PelrowFormFiles, ALargeBoxSavesAsSeparateFilesWhileWhatArrivesWaitsItsTurn) {
  auto form = Start();
  OpenLoopback(*form);
  FillLargeBox(form->SXInput);
  form->SXInput->Lines().Put(0, GsReset);
  WriteWholeFile(Folder.Path("00001-Roland.syx"), "earlier");
  const std::vector<std::string> atStart = LinesOf(form->SXInput);
  const int count = form->SXInput->Lines().Count();
  const uint64_t handledBefore = form->ReceivePump().HandledEvents();
  const auto arriveWhileSaving = [&](std::vector<uint8_t> bytes, uint64_t handled) {
    ASSERT_TRUE(Service->InjectInput(LoopbackPortName, bytes));
    ASSERT_TRUE(WaitFor([&] {
      return form->ReceivePump().HandledEvents() == handledBefore + handled || !form->Saving();
    }));
    EXPECT_TRUE(form->Saving()) << "the input came only after the save";
  };

  ChooseFolder(Folder.Path());
  bool replacing = false;
  AnswerReplace(QMessageBox::Yes, [&] { replacing = true; });
  form->MenuItem("SaveInSeparately1")->trigger();
  ASSERT_TRUE(form->Saving()) << "the box is read in the background";
  arriveWhileSaving({0x90, 0x3C, 0x40}, 1);
  EXPECT_EQ(form->SXInput->Lines().Count(), count);
  // The folder dialog came once the box was read, the question once the folder was
  // looked through; then the files are written.
  ASSERT_TRUE(QTest::qWaitFor([&] { return replacing && form->Saving(); }, 30000));
  EXPECT_EQ(form->SXInput->Lines().Count(), count + 1);
  arriveWhileSaving({0x80, 0x3C, 0x00}, 2);
  EXPECT_EQ(form->SXInput->Lines().Count(), count + 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Saving(); }, 60000));

  EXPECT_EQ(CheckSplitFiles(Folder.Path(), atStart), atStart.size());
  EXPECT_EQ(LastLine(form->LogIn), "20,000 System Exclusive messages saved as separate files in " +
                                       Folder.Path() + " (19,999,011 bytes).");
  std::vector<std::string> expected = atStart;
  expected.insert(expected.end(), {"90 3C 40", "80 3C 00"});
  ASSERT_TRUE(WaitFor([&] { return form->SXInput->Lines().Count() == count + 2; }));
  EXPECT_TRUE(LinesOf(form->SXInput) == expected);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(ErrorBoxes.empty());
}

// Closing the window while a box is saved as separate files stops the save: the
// files already written stay whole, the rest are never begun, no temporary file is
// left and nothing more is reported.
TEST_F(PelrowFormFiles, ClosingTheWindowWhileABoxSavesAsSeparateFilesLeavesWholeFilesOnly) {
  auto form = Start();
  FillLargeBox(form->SXOutput);
  const std::vector<std::string> box = LinesOf(form->SXOutput);
  const int outLogLines = form->LogOut->Lines().Count();
  const auto someFileSaved = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
      if (entry.path().extension() == ".syx")
        return true;
    return false;
  };
  form->SaveBoxSeparately(TStatusSide::Out, Folder.Path());
  ASSERT_TRUE(QTest::qWaitFor([&] { return someFileSaved() || !form->Saving(); }, 60000));
  ASSERT_TRUE(form->Saving());
  form->close();
  EXPECT_FALSE(form->Saving());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QTest::qWait(50);
  const size_t saved = CheckSplitFiles(Folder.Path(), box);
  EXPECT_GT(saved, 0u);
  EXPECT_LT(saved, box.size());
  EXPECT_EQ(form->LogOut->Lines().Count(), outLogLines);
  EXPECT_TRUE(ErrorBoxes.empty());
}

} // namespace
} // namespace pelrow::test
