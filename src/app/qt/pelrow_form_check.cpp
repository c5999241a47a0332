// The main window's checks of a box and its saving of a box as one file per
// message: File menu items for each box, "Check data" on the context menu of both
// boxes. The work is done by plain units; here they get the folder dialog, the
// overwrite question, the caret, and while a large box is saved the cursor and the
// input block of any save.
#include "app/qt/pelrow_form.h"

#include "app/dump_check.h"
#include "editor/qt/veskmemo.h"
#include "support/file_name_text.h"
#include "support/qt/latin1_text.h"
#include "support/qt/qt_services.h"
#include "support/text_format.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>

namespace pelrow {

void TPelrowForm::ConnectCheckAndSplit() {
  FSplitSaver.ShowStatus = StatusReporter();
  FSplitSaver.OnBusy = [this](TSplitSaver& sender, bool busy) {
    SaveBusy(busy, sender.SavingSide());
  };
  FSplitSaver.OnChooseFolder = [this](TSplitSaver&) -> std::optional<std::string> {
    QFileDialog dialog(this, Latin1(SplitFolderDialogTitle));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  };
  FSplitSaver.OnConfirmOverwrite = [this](TSplitSaver&, const std::string& folder, int existing,
                                          const std::string& firstExisting) {
    const std::string question = FormatText(ConfirmSplitOverwriteText, GroupedNumber(existing),
                                            FileNameText(folder), FileNameText(firstExisting));
    return QMessageBox::question(this, windowTitle(), Latin1(question)) == QMessageBox::Yes;
  };

  const std::pair<const char*, std::function<void()>> commands[] = {
      {"SaveOutSeparately1",
       [this] { FSplitSaver.StartSaveBox(SXOutput->Lines(), TStatusSide::Out, *FFilePoster); }},
      {"SaveInSeparately1",
       [this] { FSplitSaver.StartSaveBox(SXInput->Lines(), TStatusSide::In, *FFilePoster); }},
      {"CheckOutData1", [this] { CheckBox(SXOutput); }},
      {"CheckInData1", [this] { CheckBox(SXInput); }},
      {"CheckData1",
       [this] {
         if (FPopupBox == SXOutput || FPopupBox == SXInput)
           CheckBox(static_cast<TVeskMemo*>(FPopupBox));
       }},
  };
  for (const auto& [name, command] : commands)
    connect(MenuItem(name), &QAction::triggered, this, command);
}

void TPelrowForm::SaveBoxSeparately(TStatusSide side, const std::string& folder) {
  FSplitSaver.StartSaveFolder(folder, BoxOf(side)->Lines(), side, *FFilePoster);
}

// The box's text stays as it is; only its caret goes to the first problem.
void TPelrowForm::CheckBox(TVeskMemo* box) {
  const TStatusSide side = box == SXOutput ? TStatusSide::Out : TStatusSide::In;
  const TCheckReport report = CheckDump(DumpDataOfLines(box->Lines()));
  ReportCheck(report, side, StatusReporter());
  // A problem of the whole box (it holds no messages) has no line to go to.
  const auto first = std::find_if(report.Problems.begin(), report.Problems.end(),
                                  [](const TCheckProblem& p) { return p.Line > 0; });
  if (first != report.Problems.end())
    box->MoveCaret(0, first->Line - 1, true, false);
}

} // namespace pelrow
