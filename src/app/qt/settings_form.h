// The Settings dialog: a tool window above the main window that edits the window's
// live options. The speed bar and the font lists act while the dialog is open; the
// check boxes and the pause after each message act on Apply or OK; Cancel, Esc and the title bar's
// close button put back the speed and font the dialog found or last applied.
#pragma once

#include "app/settings_target.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace pelrow {

class TVeskMemo;

class TSettingsForm : public QDialog {
  Q_OBJECT
public:
  // Made once at start-up with the main window as parent, so that it stays above
  // it; showing and closing only hide it.
  explicit TSettingsForm(TSettingsTarget& target, QWidget* parent = nullptr);
  ~TSettingsForm() override;

  void setVisible(bool visible) override;
  // OK applies; every other way of closing cancels.
  void done(int result) override;

  // Controls, named as the program names them.
  QGroupBox* GBMidiInput;
  QCheckBox* CBMidiThru;
  QCheckBox* CBAS;
  QCheckBox* CBMTC;
  QCheckBox* CBOnlySysEx;
  QGroupBox* GBSpeed;
  QSlider* TBMidiSpeed;
  QLabel* LVerySlow;
  QLabel* LActualSpeed;
  QLabel* LVeryFast;
  QLabel* LSendSpeed;
  QPushButton* BDefault;
  QLabel* LMessageGap;
  QSpinBox* SEMessageGap;
  QLabel* LNoteDevice;
  QLabel* LNoteBulkDumps;
  QGroupBox* GBLoadingFiles;
  QGroupBox* GBGeneral;
  QLabel* LFontName;
  QComboBox* CBFontName;
  QLabel* LFontSize;
  QComboBox* CBFontSize;
  QCheckBox* CBShowLog;
  QCheckBox* CBSplitSysEx;
  QCheckBox* CBOneInstance;
  QPushButton* BOK;
  QPushButton* BCancel;
  QPushButton* BApply;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void BuildControls();
  QWidget* BuildMidiInputGroup();
  QWidget* BuildSpeedGroup();
  QWidget* BuildGeneralGroup();
  QWidget* BuildButtonRow();
  void ConnectHandlers();
  void CentreOnOwner();

  // Handlers.
  void FormShow();
  void FormClose(bool ok);
  void BApplyClick();
  void BDefaultClick();
  void TBMidiSpeedChange();
  void CBFontNameSelect();
  void CheckBoxChange();

  void LoadFromMainWindow();
  void ApplySettings();
  void ApplyFont();
  void UpdateSpeedLabel();
  void SetModified(bool modified);
  // Fills list with the installed fixed-pitch families, sorted, each once.
  static void AddFixedPitchFonts(QComboBox* list);

  TSettingsTarget& FTarget;
  // What Cancel puts back: the state when the dialog was shown or last applied.
  std::string FOldFontName;
  int FOldFontSize = 0;
  int FOldSendSpeed = 0;
};

// The boxes' font as the dialog sees it, for the main window's TSettingsTarget: the
// In box's family and point size, and setting both boxes at once (the In box
// gets the family and size, fixed pitch; the Out box a copy of its whole font).
std::string BoxFontName(const TVeskMemo& input);
int BoxFontSize(const TVeskMemo& input);
void SetBoxesFont(TVeskMemo& input, TVeskMemo& output, const std::string& name, int pointSize);

} // namespace pelrow
