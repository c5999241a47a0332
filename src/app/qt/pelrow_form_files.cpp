// The main window's files: File > Open, the two Save As commands, the recent-files
// entries at the end of the File menu, and files named on the command line. The
// loading and saving are plain units; here they get their dialogs, the cursor and
// the menu.
#include "app/qt/pelrow_form.h"

#include "app/dialog_filter.h"
#include "app/qt/input_block.h"
#include "app/qt/send_receive_parts.h"
#include "editor/qt/veskmemo.h"
#include "support/file_name_text.h"
#include "support/product_info.h"
#include "support/qt/latin1_text.h"
#include "support/qt/qt_services.h"
#include "support/text_format.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

#include <utility>

namespace pelrow {

namespace {

constexpr const char* kFileMenu = "File1";
constexpr int kRecentFilesMax = 6;

QStringList NameFilters(const char* filter) {
  QStringList filters;
  for (const std::string& entry : DialogNameFilters(filter))
    filters << Latin1(entry);
  return filters;
}

// The name the dialog chose, as the bytes the file system knows it by.
std::string ChosenFileName(const QFileDialog& dialog) {
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : QFile::encodeName(chosen.first()).toStdString();
}

// A file name as a menu shows it: every "&" is a character, not an access key.
QString MenuCaption(const std::string& text) {
  return Latin1(FileNameText(text)).replace('&', "&&");
}

} // namespace

TRegistryStore& TPelrowForm::SettingsStore() {
  return FStartup.Settings ? *FStartup.Settings : FOwnSettings;
}

void TPelrowForm::ConnectFileUnits() {
  FFileLoader.ShowStatus = StatusReporter();
  FFileLoader.OnBusy = [this](TFileLoader&, bool busy) {
    BusyCursor(busy);
    if (busy)
      FLoadInputBlock = std::make_unique<TInputBlock>(*this);
    else
      FLoadInputBlock.reset();
  };
  FFilePoster = std::make_unique<TQtUiPoster>();
  FFileLoader.OnLoaded = [this](TFileLoader&, const std::string& fileName) {
    MRUFiles.AddFile(fileName);
  };

  FFileSaver.SetShowStatus(StatusReporter());
  FFileSaver.OnBusy = [this](TFileSaver& sender, bool busy) {
    SaveBusy(busy, sender.SavingSide());
  };
  FFileSaver.OnSaved = [this](TFileSaver&, const std::string& fileName) {
    MRUFiles.AddFile(fileName);
  };
  FFileSaver.OnChooseFileName = [this](TFileSaver&) -> std::optional<std::string> {
    QFileDialog dialog(this, Latin1(SaveDialogTitle));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(NameFilters(SaveDialogFilter));
    dialog.setDefaultSuffix(SaveDialogDefaultExt);
    // The saver asks itself, about the name with its extension added.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted)
      return std::nullopt;
    return ChosenFileName(dialog);
  };
  FFileSaver.OnConfirmOverwrite = [this](TFileSaver&, const std::string& fileName) {
    return QMessageBox::question(this, windowTitle(),
                                 Latin1(FormatText(ConfirmOverwriteText,
                                                   FileNameText(fileName)))) == QMessageBox::Yes;
  };
}

// The recent-files list takes the File menu's own items as its base, gets its
// settings path, and so reads the stored list.
void TPelrowForm::ConnectRecentFiles() {
  MRUFiles.SetMaxItems(kRecentFilesMax);
  MRUFiles.OnChange = [this](TDynamicMenuBase&) { MirrorRecentFiles(); };
  MRUFiles.OnClick = [this](THistoryList& sender, const std::string& fileName) {
    MRUFilesClick(sender, fileName);
  };
  TMenuEntries items;
  for (QAction* action : Menu(kFileMenu)->actions()) {
    TMenuEntry entry;
    entry.Name = action->objectName().toStdString();
    entry.Caption = action->isSeparator() ? "-" : Latin1Bytes(action->text());
    entry.Hint = Latin1Bytes(action->statusTip());
    entry.Enabled = action->isEnabled();
    items.push_back(std::move(entry));
  }
  MRUFiles.SetBaseMenu(std::move(items));
  MRUFiles.SetRegPath(AppRegPath());
}

void TPelrowForm::SaveRecentFiles() {
  MRUFiles.SaveToRegistry();
}

// The File menu is rebuilt from the list's items: the window's own actions by
// name, new ones for what the list added.
void TPelrowForm::MirrorRecentFiles() {
  QMenu* menu = Menu(kFileMenu);
  for (QAction* action : menu->actions()) {
    menu->removeAction(action);
    // Later: the action may be the one whose click is being handled.
    if (MenuItem(action->objectName().toStdString()) != action)
      action->deleteLater();
  }
  const TMenuEntries& items = MRUFiles.Items();
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    const TMenuEntry& item = items[static_cast<std::size_t>(i)];
    if (QAction* own = item.Added ? nullptr : MenuItem(item.Name)) {
      menu->addAction(own);
      continue;
    }
    auto* action = new QAction(menu);
    if (item.IsSeparator()) {
      action->setSeparator(true);
    } else {
      action->setText(MenuCaption(item.Caption));
      action->setStatusTip(Latin1(FileNameText(item.Hint)));
      action->setEnabled(item.Enabled);
      // Opening the file reorders the menu, so the click is handled once the
      // menu has finished with the action.
      connect(action, &QAction::triggered, this, [this, i] {
        QMetaObject::invokeMethod(
            this, [this, i] { MRUFiles.ClickItem(i); }, Qt::QueuedConnection);
      });
    }
    menu->addAction(action);
  }
}

void TPelrowForm::MRUFilesClick(THistoryList&, const std::string& fileName) {
  LoadFile(fileName);
}

void TPelrowForm::BusyCursor(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TPelrowForm::SaveBusy(bool busy, TStatusSide side) {
  BusyCursor(busy);
  if (busy) {
    FSaveInputBlock = std::make_unique<TInputBlock>(*this);
    if (side == TStatusSide::In && FSendReceive)
      FSendReceive->Pump.Hold();
    return;
  }
  FSaveInputBlock.reset();
  if (FSendReceive)
    FSendReceive->Pump.Release();
  // From the event loop: the saver is still ending its save.
  if (FLoadAfterSave)
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (FLoadAfterSave && !Saving())
            LoadFile(*std::exchange(FLoadAfterSave, std::nullopt));
        },
        Qt::QueuedConnection);
}

void TPelrowForm::LoadFile(const std::string& fileName) {
  // A file handed over by a later start waits until the box is saved; the last one
  // named wins, as on a command line.
  if (Saving()) {
    FLoadAfterSave = fileName;
    return;
  }
  FFileLoader.StartLoad(fileName, SXOutput->Lines(), SplitThreshold(), *FFilePoster);
}

TVeskMemo* TPelrowForm::BoxOf(TStatusSide side) const {
  return side == TStatusSide::In ? SXInput : SXOutput;
}

void TPelrowForm::SaveBoxAs(TStatusSide side, const std::string& fileName) {
  FFileSaver.StartSave(fileName, BoxOf(side)->Lines(), side, *FFilePoster);
}

void TPelrowForm::Open1Click() {
  QFileDialog dialog(this, Latin1(OpenDialogTitle));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(NameFilters(OpenDialogFilter));
  dialog.setDefaultSuffix(OpenDialogDefaultExt);
  if (dialog.exec() == QDialog::Accepted) {
    const std::string fileName = ChosenFileName(dialog);
    if (!fileName.empty())
      LoadFile(fileName);
  }
}

void TPelrowForm::SaveOutAs1Click() {
  FFileSaver.StartSaveBox(SXOutput->Lines(), TStatusSide::Out, *FFilePoster);
}

void TPelrowForm::SaveInAs1Click() {
  FFileSaver.StartSaveBox(SXInput->Lines(), TStatusSide::In, *FFilePoster);
}

} // namespace pelrow
