#include "app/qt/settings_form.h"

#include "app/app_settings.h"
#include "app/settings_speed.h"
#include "editor/qt/veskmemo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace pelrow {

namespace {

constexpr const char* TextCaption = "Settings";
constexpr const char* TextMidiInput = "MIDI Input";
constexpr const char* TextMidiThru = "MIDI Thru (echo MIDI In to MIDI Out)";
constexpr const char* TextActiveSensing =
    "Active Sensing (display active sensing messages, not recommended)";
constexpr const char* TextTimingClock = "MIDI Time Clock (display MTC, not recommended)";
constexpr const char* TextOnlySysEx = "Only display System Exclusive messages in MIDI IN";
constexpr const char* TextSpeedGroup = "Speed of Sending MIDI";
constexpr const char* TextVerySlow = "Very Slow";
constexpr const char* TextActualSpeed = "Actual MIDI Speed";
constexpr const char* TextVeryFast = "Very Fast";
constexpr const char* TextDefault = "Default";
constexpr const char* TextMessageGap = "Pause after each System Exclusive message:";
constexpr const char* TextMessageGapUnit = " ms";
constexpr const char* TextNoteDevice =
    "Note that you can never send faster than the MIDI device allows.";
constexpr const char* TextNoteBulkDumps =
    "If you experience problems when sending bulk dumps, try a slower setting.";
constexpr const char* TextLoadingFiles = "Loading Files";
constexpr const char* TextGeneral = "General";
constexpr const char* TextFont = "Font:";
constexpr const char* TextSize = "Size:";
constexpr const char* TextShowLog = "Show action log lists";
constexpr const char* TextSplitSysEx = "Wrap long sys ex messages upon loading";
constexpr const char* TextOneInstance = "Only allow one instance/window of Pelrow";
constexpr const char* TextOK = "OK";
constexpr const char* TextCancel = "Cancel";
constexpr const char* TextApply = "Apply";

// The client area the dialog is laid out for; a wider desktop font makes it larger
// rather than cutting a caption off.
constexpr int ClientWidth = 390;
constexpr int ClientHeight = 420;
// The empty "Loading Files" group is little more than its caption.
constexpr int EmptyGroupHeight = 4;
constexpr int SpeedBarPageStep = 2;
constexpr int MessageGapStep = 10;

template <typename T> T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QCheckBox* NewCheckBox(const char* name, const char* caption) {
  return Named(new QCheckBox(caption), name);
}

QLabel* NewLabel(const char* name, const char* caption, Qt::Alignment alignment) {
  auto* label = Named(new QLabel(caption), name);
  label->setAlignment(alignment);
  return label;
}

// A group with a bold caption; its contents go on a plain-font page inside, so only
// the caption is bold.
// A group with a bold caption around a page in the plain font; the page's layout is
// where the group's controls go.
QGroupBox* NewGroup(const char* name, const char* caption, QVBoxLayout*& pageLayout) {
  auto* group = Named(new QGroupBox(caption), name);
  QFont bold = group->font();
  bold.setBold(true);
  group->setFont(bold);
  auto* page = new QWidget;
  QFont plain = bold;
  plain.setBold(false);
  page->setFont(plain);
  auto* layout = new QVBoxLayout(group);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->addWidget(page);
  pageLayout = new QVBoxLayout(page);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  return group;
}

} // namespace

TSettingsForm::TSettingsForm(TSettingsTarget& target, QWidget* parent)
    : QDialog(parent, Qt::Tool), FTarget(target) {
  setObjectName("SettingsForm");
  setWindowTitle(TextCaption);
  BuildControls();
  ConnectHandlers();
  // A fixed size like a dialog's: the designed client area, or more where the
  // desktop's font needs it; the wrapped notes take their height at that width.
  const int width = std::max(ClientWidth, minimumSizeHint().width());
  setFixedSize(width, std::max(ClientHeight, layout()->totalHeightForWidth(width)));
}

TSettingsForm::~TSettingsForm() = default;

void TSettingsForm::BuildControls() {
  auto* column = new QVBoxLayout(this);
  column->addWidget(BuildMidiInputGroup());
  column->addWidget(BuildSpeedGroup());
  QVBoxLayout* loadingPage = nullptr; // the group stays empty
  GBLoadingFiles = NewGroup("GBLoadingFiles", TextLoadingFiles, loadingPage);
  loadingPage->parentWidget()->setMinimumHeight(EmptyGroupHeight);
  column->addWidget(GBLoadingFiles);
  column->addWidget(BuildGeneralGroup());
  column->addStretch(1);
  column->addWidget(BuildButtonRow());
}

QWidget* TSettingsForm::BuildMidiInputGroup() {
  QVBoxLayout* layout = nullptr;
  GBMidiInput = NewGroup("GBMidiInput", TextMidiInput, layout);
  CBMidiThru = NewCheckBox("CBMidiThru", TextMidiThru);
  CBAS = NewCheckBox("CBAS", TextActiveSensing);
  CBMTC = NewCheckBox("CBMTC", TextTimingClock);
  CBOnlySysEx = NewCheckBox("CBOnlySysEx", TextOnlySysEx);
  for (QCheckBox* box : {CBMidiThru, CBAS, CBMTC, CBOnlySysEx})
    layout->addWidget(box);
  return GBMidiInput;
}

QWidget* TSettingsForm::BuildSpeedGroup() {
  QVBoxLayout* layout = nullptr;
  GBSpeed = NewGroup("GBSpeed", TextSpeedGroup, layout);
  TBMidiSpeed = Named(new QSlider(Qt::Horizontal), "TBMidiSpeed");
  TBMidiSpeed->setRange(SpeedBarMin, SpeedBarMax);
  TBMidiSpeed->setPageStep(SpeedBarPageStep);
  TBMidiSpeed->setTickPosition(QSlider::TicksBelow);
  TBMidiSpeed->setTickInterval(1);
  layout->addWidget(TBMidiSpeed);

  // Three equal columns put "Actual MIDI Speed" under the middle of the bar.
  auto* scale = new QGridLayout;
  LVerySlow = NewLabel("LVerySlow", TextVerySlow, Qt::AlignLeft);
  LActualSpeed = NewLabel("LActualSpeed", TextActualSpeed, Qt::AlignHCenter);
  LVeryFast = NewLabel("LVeryFast", TextVeryFast, Qt::AlignRight);
  scale->addWidget(LVerySlow, 0, 0);
  scale->addWidget(LActualSpeed, 0, 1);
  scale->addWidget(LVeryFast, 0, 2);
  for (int col = 0; col < 3; ++col)
    scale->setColumnStretch(col, 1);
  layout->addLayout(scale);

  auto* speedRow = new QHBoxLayout;
  LSendSpeed = NewLabel("LSendSpeed", "", Qt::AlignLeft | Qt::AlignVCenter);
  // Room for the longest speed text, so that no position cuts its text off.
  int longest = 0;
  for (int position = SpeedBarMin; position <= SpeedBarMax; ++position)
    longest = std::max(longest, LSendSpeed->fontMetrics().horizontalAdvance(
                                    QString::fromStdString(SpeedLabelText(position))));
  LSendSpeed->setMinimumWidth(longest);
  BDefault = Named(new QPushButton(TextDefault), "BDefault");
  BDefault->setAutoDefault(false);
  speedRow->addWidget(LSendSpeed, 1);
  speedRow->addWidget(BDefault);
  layout->addLayout(speedRow);

  auto* gapRow = new QHBoxLayout;
  LMessageGap = NewLabel("LMessageGap", TextMessageGap, Qt::AlignLeft | Qt::AlignVCenter);
  SEMessageGap = Named(new QSpinBox, "SEMessageGap");
  SEMessageGap->setRange(MinMessageGap, MaxMessageGap);
  SEMessageGap->setSingleStep(MessageGapStep);
  SEMessageGap->setSuffix(TextMessageGapUnit);
  LMessageGap->setBuddy(SEMessageGap);
  gapRow->addWidget(LMessageGap);
  gapRow->addWidget(SEMessageGap);
  gapRow->addStretch(1);
  layout->addLayout(gapRow);

  // Both notes wrap, so a wide desktop font does not widen the dialog for them.
  LNoteDevice = NewLabel("LNoteDevice", TextNoteDevice, Qt::AlignLeft);
  LNoteDevice->setWordWrap(true);
  LNoteBulkDumps = NewLabel("LNoteBulkDumps", TextNoteBulkDumps, Qt::AlignLeft);
  LNoteBulkDumps->setWordWrap(true);
  layout->addWidget(LNoteDevice);
  layout->addWidget(LNoteBulkDumps);
  return GBSpeed;
}

QWidget* TSettingsForm::BuildGeneralGroup() {
  QVBoxLayout* layout = nullptr;
  GBGeneral = NewGroup("GBGeneral", TextGeneral, layout);

  auto* fontRow = new QHBoxLayout;
  LFontName = NewLabel("LFontName", TextFont, Qt::AlignLeft | Qt::AlignVCenter);
  CBFontName = Named(new QComboBox, "CBFontName");
  CBFontName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  LFontName->setBuddy(CBFontName);
  LFontSize = NewLabel("LFontSize", TextSize, Qt::AlignLeft | Qt::AlignVCenter);
  CBFontSize = Named(new QComboBox, "CBFontSize");
  LFontSize->setBuddy(CBFontSize);
  fontRow->addWidget(LFontName);
  fontRow->addWidget(CBFontName, 1);
  fontRow->addWidget(LFontSize);
  fontRow->addWidget(CBFontSize);
  layout->addLayout(fontRow);

  CBShowLog = NewCheckBox("CBShowLog", TextShowLog);
  CBSplitSysEx = NewCheckBox("CBSplitSysEx", TextSplitSysEx);
  CBOneInstance = NewCheckBox("CBOneInstance", TextOneInstance);
  for (QCheckBox* box : {CBShowLog, CBSplitSysEx, CBOneInstance})
    layout->addWidget(box);
  return GBGeneral;
}

QWidget* TSettingsForm::BuildButtonRow() {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  BOK = Named(new QPushButton(TextOK), "BOK");
  BOK->setDefault(true);
  BCancel = Named(new QPushButton(TextCancel), "BCancel");
  BApply = Named(new QPushButton(TextApply), "BApply");
  layout->addStretch(1);
  for (QPushButton* button : {BOK, BCancel, BApply})
    layout->addWidget(button);
  return row;
}

void TSettingsForm::ConnectHandlers() {
  connect(BOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(BApply, &QPushButton::clicked, this, [this] { BApplyClick(); });
  connect(BDefault, &QPushButton::clicked, this, [this] { BDefaultClick(); });
  connect(TBMidiSpeed, &QSlider::valueChanged, this, [this] { TBMidiSpeedChange(); });
  connect(SEMessageGap, &QSpinBox::valueChanged, this, [this] { SetModified(true); });
  // Only a choice by the user changes the font, not the selection made on show.
  connect(CBFontName, &QComboBox::activated, this, [this] { CBFontNameSelect(); });
  connect(CBFontSize, &QComboBox::activated, this, [this] { CBFontNameSelect(); });
  // The single-instance box leaves Apply as it is.
  for (QCheckBox* box : {CBMidiThru, CBAS, CBMTC, CBOnlySysEx, CBShowLog, CBSplitSysEx})
    connect(box, &QCheckBox::toggled, this, [this] { CheckBoxChange(); });
}

void TSettingsForm::setVisible(bool visible) {
  if (visible && !isVisible())
    CentreOnOwner();
  QDialog::setVisible(visible);
}

// Each opening is centred on the main window, wherever the dialog was moved last
// time, and kept on the main window's screen. The window areas without their
// frames are used: a frame is known only once the dialog has been shown, so
// frames would put the first opening elsewhere than the later ones.
void TSettingsForm::CentreOnOwner() {
  QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  if (!owner)
    return;
  QRect area = geometry();
  area.moveCenter(owner->geometry().center());
  if (const QScreen* screen = owner->screen()) {
    const QRect work = screen->availableGeometry();
    area.moveLeft(std::max(work.left(), std::min(area.left(), work.right() - area.width() + 1)));
    area.moveTop(std::max(work.top(), std::min(area.top(), work.bottom() - area.height() + 1)));
  }
  setGeometry(area);
}

void TSettingsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TSettingsForm::done(int result) {
  if (isVisible())
    FormClose(result == QDialog::Accepted);
  QDialog::done(result);
}

void TSettingsForm::FormShow() {
  // The lists are filled on the first showing only.
  if (CBFontName->count() == 0)
    AddFixedPitchFonts(CBFontName);
  if (CBFontSize->count() == 0)
    for (int size : FontSizes)
      CBFontSize->addItem(QString::number(size));
  LoadFromMainWindow();
}

void TSettingsForm::FormClose(bool ok) {
  if (ok) {
    ApplySettings();
    return;
  }
  // Check boxes that were not applied simply have no effect; what acted live goes back.
  FTarget.SetBoxFont(FOldFontName, FOldFontSize);
  FTarget.SetSendSpeed(FOldSendSpeed);
}

void TSettingsForm::LoadFromMainWindow() {
  CBMidiThru->setChecked(FTarget.MidiThru());
  CBAS->setChecked(FTarget.ActiveSensing());
  CBMTC->setChecked(FTarget.TimingClock());
  FOldSendSpeed = FTarget.SendSpeed();
  SEMessageGap->setValue(FTarget.MessageGap());
  CBSplitSysEx->setChecked(FTarget.SplitLongMessages());
  FOldFontName = FTarget.BoxFontName();
  FOldFontSize = FTarget.BoxFontSize();
  CBShowLog->setChecked(FTarget.LogListsVisible());
  CBOnlySysEx->setChecked(FTarget.SysExOnly());
  CBOneInstance->setChecked(FTarget.OneInstance());

  // The bar shows what is sent: a speed that is no multiple of 125 is rounded toward
  // zero to one at once, also when the bar is already in its place from last time.
  TBMidiSpeed->setValue(SpeedToPosition(FOldSendSpeed));
  FTarget.SetSendSpeed(PositionToSpeed(TBMidiSpeed->value()));

  CBFontName->setCurrentIndex(CBFontName->findText(QString::fromStdString(FOldFontName)));
  CBFontSize->setCurrentIndex(FontSizeIndex(FOldFontSize));
  UpdateSpeedLabel();
  SetModified(false);
}

void TSettingsForm::ApplySettings() {
  FTarget.SetMidiThru(CBMidiThru->isChecked());
  FTarget.SetActiveSensing(CBAS->isChecked());
  FTarget.SetTimingClock(CBMTC->isChecked());
  FTarget.SetSendSpeed(PositionToSpeed(TBMidiSpeed->value()));
  FTarget.SetMessageGap(SEMessageGap->value());
  FTarget.SetSplitLongMessages(CBSplitSysEx->isChecked());
  ApplyFont();
  FOldFontName = FTarget.BoxFontName();
  FOldFontSize = FTarget.BoxFontSize();
  FOldSendSpeed = FTarget.SendSpeed();
  FTarget.SetLogListsVisible(CBShowLog->isChecked());
  FTarget.SetSysExOnly(CBOnlySysEx->isChecked());
  FTarget.SetOneInstance(CBOneInstance->isChecked());
  SetModified(false);
}

void TSettingsForm::ApplyFont() {
  // A list with nothing selected keeps that part of the current font.
  const std::string name = CBFontName->currentIndex() >= 0 ? CBFontName->currentText().toStdString()
                                                           : FTarget.BoxFontName();
  const int size = CBFontSize->currentIndex() >= 0 ? FontSizes.at(CBFontSize->currentIndex())
                                                   : FTarget.BoxFontSize();
  FTarget.SetBoxFont(name, size);
}

void TSettingsForm::BApplyClick() {
  ApplySettings();
}

void TSettingsForm::BDefaultClick() {
  TBMidiSpeed->setValue(SpeedToPosition(SpeedDefault));
}

void TSettingsForm::TBMidiSpeedChange() {
  UpdateSpeedLabel();
  // A send that runs now reads the new speed before its next chunk.
  FTarget.SetSendSpeed(PositionToSpeed(TBMidiSpeed->value()));
  SetModified(true);
}

void TSettingsForm::CBFontNameSelect() {
  ApplyFont();
  SetModified(true);
}

void TSettingsForm::CheckBoxChange() {
  SetModified(true);
}

void TSettingsForm::UpdateSpeedLabel() {
  LSendSpeed->setText(QString::fromStdString(SpeedLabelText(TBMidiSpeed->value())));
}

void TSettingsForm::SetModified(bool modified) {
  BApply->setEnabled(modified);
}

void TSettingsForm::AddFixedPitchFonts(QComboBox* list) {
  QStringList names;
  for (const QString& family : QFontDatabase::families())
    if (QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family))
      names.append(family);
  names.removeDuplicates();
  names.sort(Qt::CaseInsensitive);
  list->addItems(names);
}

std::string BoxFontName(const TVeskMemo& input) {
  return input.Font().family().toStdString();
}

int BoxFontSize(const TVeskMemo& input) {
  const QFont font = input.Font();
  // A font given in pixels has no point size of its own; take the one it shows at.
  return font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();
}

void SetBoxesFont(TVeskMemo& input, TVeskMemo& output, const std::string& name, int pointSize) {
  QFont font = input.Font();
  font.setFamily(QString::fromStdString(name));
  if (pointSize > 0)
    font.setPointSize(pointSize);
  input.SetFont(font);
  output.SetFont(input.Font());
}

} // namespace pelrow
