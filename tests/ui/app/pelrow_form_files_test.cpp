// Files in the real main window: loading into the Out box, saving a box through the
// save dialog, the recent files under the File menu and their settings.
#include "form_fixture.h"

#include "support/product_info.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include "app/file_loader.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

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

  static bool LogHas(TVeskMemo* log, const std::string& line) {
    const std::vector<std::string> lines = LinesOf(log);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
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

} // namespace
} // namespace pelrow::test
