// Checking a box and saving it as one file per message in the real main window:
// the report on the box's side, the caret on the first problem, the folder dialog
// and the question before any file is replaced.
#include "form_fixture.h"

#include "app/dump_samples.h"
#include "app/line_formatter.h"
#include "app/qt/status_bar.h"
#include "support/scratch_folder.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>

#include <filesystem>

namespace pelrow::test {
namespace {

class PelrowFormCheck : public FormFixture {
protected:
  static void Fill(TVeskMemo* box, const TLines& lines) {
    box->Lines().Clear();
    for (const std::string& line : lines)
      box->Lines().Add(line);
  }

  // Right-clicks the box, as a user opens its context menu, and answers whether
  // "Check data" is offered there.
  static bool OffersCheckData(TPelrowForm& form, TVeskMemo* box) {
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            box->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(box->viewport(), &click);
    const bool offered = form.MenuItem("CheckData1")->isVisible();
    form.Popup1->close();
    return offered;
  }

  TScratchFolder Folder;
};

TEST_F(PelrowFormCheck, CheckDataReportsOnTheBoxsSideAndLeavesTheBoxAsItWas) {
  auto form = Start();
  const TLines received = Joined({{IdentityRequest, GsReset, GsResetBadSum},
                                  HexLines(YamahaVoiceDump(), 32),
                                  {"F0 41 10 42 12 40", "; damaged: 5 bytes lost"}});
  Fill(form->SXInput, received);
  form->SXInput->MoveCaret(0, 0, false, false);

  ASSERT_TRUE(OffersCheckData(*form, form->SXInput));
  form->MenuItem("CheckData1")->trigger();
  const std::string summary = "5 messages, Universal Non-Real-Time, Roland, Yamaha, 1 damaged "
                              "message: line 11; 1 checksum error: line 3";
  const std::vector<std::string> expectedLog{
      "line 3: checksum error in message 3 (DT1): checksum 42, should be 41",
      "line 11: message 5 is marked damaged", summary};
  EXPECT_EQ(LinesOf(form->LogIn), expectedLog);
  EXPECT_EQ(form->PStatusBar->PanelText(1).toStdString(), summary);
  EXPECT_EQ(form->SXInput->Caret().Line, 2);
  EXPECT_EQ(LinesOf(form->SXInput), received);
  EXPECT_TRUE(LinesOf(form->LogOut).empty());

  // An interruption mark of the receive path is a warning, not a damaged message.
  Fill(form->SXInput, {GsReset, MayBeLostMarkLine});
  form->MenuItem("CheckInData1")->trigger();
  const std::vector<std::string> log = LinesOf(form->LogIn);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Warning: line 2: may be incomplete: the MIDI system was "
                                 "interrupted here while receiving");
  EXPECT_EQ(log.back(), "1 message, Roland, 1 place that may be incomplete: line 2");

  // The Out box from the File menu; the logs offer no check.
  Fill(form->SXOutput, {GsReset, IdentityRequest});
  form->MenuItem("CheckOutData1")->trigger();
  EXPECT_EQ(LastLine(form->LogOut),
            "2 messages, Roland, Universal Non-Real-Time, no problems found");
  EXPECT_TRUE(OffersCheckData(*form, form->SXOutput));
  EXPECT_FALSE(OffersCheckData(*form, form->LogIn));
  EXPECT_FALSE(OffersCheckData(*form, form->LogOut));
}

TEST_F(PelrowFormCheck, SaveAsSeparateFilesWritesEachSysExAndAsksBeforeReplacing) {
  auto form = Start();
  const std::string folder = Folder.Path();
  Fill(form->SXInput, Joined({{GsReset, "90 3C 7F"}, HexLines(YamahaVoiceDump(), 32)}));
  ChooseFolder(folder);
  form->MenuItem("SaveInSeparately1")->trigger();
  EXPECT_EQ(ReadWholeFile(folder + "/0001-Roland.syx"),
            std::string("\xF0\x41\x10\x42\x12\x40\x00\x7F\x00\x41\xF7", 11));
  const TBytes voice = YamahaVoiceDump();
  EXPECT_EQ(ReadWholeFile(folder + "/0002-Yamaha.syx"), std::string(voice.begin(), voice.end()));
  EXPECT_EQ(LastLine(form->LogIn),
            "2 System Exclusive messages saved as separate files in " + folder + " (174 bytes).");

  // Saving again asks first; No leaves every file as it is and says nothing.
  WriteWholeFile(folder + "/0002-Yamaha.syx", "edited");
  const int logLines = form->LogIn->Lines().Count();
  ChooseFolder(folder);
  AnswerReplace(QMessageBox::No);
  form->MenuItem("SaveInSeparately1")->trigger();
  EXPECT_EQ(ReadWholeFile(folder + "/0002-Yamaha.syx"), "edited");
  EXPECT_EQ(form->LogIn->Lines().Count(), logLines);
  ChooseFolder(folder);
  AnswerReplace(QMessageBox::Yes);
  form->MenuItem("SaveInSeparately1")->trigger();
  EXPECT_EQ(ReadWholeFile(folder + "/0002-Yamaha.syx"), std::string(voice.begin(), voice.end()));

  // A box without System Exclusive messages asks for no folder.
  Fill(form->SXOutput, {"90 3C 7F", "80 3C 00"});
  form->MenuItem("SaveOutSeparately1")->trigger();
  EXPECT_EQ(LastLine(form->LogOut), "Error: There are no System Exclusive messages to save.");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            2);
}

} // namespace
} // namespace pelrow::test
