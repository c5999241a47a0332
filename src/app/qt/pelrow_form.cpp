// The main window: layout, menus, start-up, shutdown, status line and logs.
#include "app/qt/pelrow_form.h"

#include "app/hex_notation.h"
#include "app/main_menu.h"
#include "app/qt/input_block.h"
#include "app/qt/menu_mirror.h"
#include "app/qt/send_receive_parts.h"
#include "app/qt/status_bar.h"
#include "app/settings_target.h"
#include "app/status_line.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_menu.h"
#include "support/merged_notice.h"
#include "support/one_instance.h"
#include "support/product_info.h"
#include "support/qt/latin1_text.h"
#include "support/qt/qt_services.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace pelrow {

namespace {

constexpr const char* kOutCaption = " Midi Out";
constexpr const char* kInCaption = " Midi In";
constexpr const char* kClearOutCaption = "Clear Out";
constexpr const char* kClearInCaption = "Clear In";
constexpr const char* kBulkDumpHeading = "Receiving bulk dump";
// The widest rate the bulk panel has room for.
constexpr const char* kWidestBulkRate = "at 10000000 bytes/s = 9765.63 KB/s";
// Sizes of the window as designed; the stored placement replaces the window size.
constexpr int kClientWidth = 488;
// A first start shows this much of each box and of the logs, as far as the screen
// allows: a 16-byte line and a screenful of lines in each box, a few log lines.
constexpr int kFirstStartBoxColumns = 16 * 3 + 1;
constexpr int kFirstStartBoxLines = 18;
constexpr int kFirstStartLogLines = 4;
// Part of the work area a first start leaves free around the window.
constexpr double kFirstStartScreenShare = 0.9;
constexpr int kBevelHeight = 4;
constexpr int kOutPanelWidth = 241;
constexpr int kSplitterWidth = 4;
constexpr int kButtonRowHeight = 37;
constexpr int kLogListsHeight = 27;
constexpr int kLogPanelMinHeight = 5;
constexpr int kBoxMinWidth = 30;
constexpr int kBulkDumpWidth = 193;
constexpr int kBulkDumpHeight = 74;
// The status-bar split sits just inside the 4-pixel splitter between the boxes.
constexpr int kStatusSplitOffset = 3;

constexpr int kSendSpeedDefault = -500;
constexpr int kSplitThresholdDefault = 32;

// The boxes show bytes in a fixed-pitch font; the stored font name replaces it.
constexpr const char* kBoxFontName = "Terminal";
constexpr int kBoxFontSize = 8;

QFont BoxFont() {
  QFont font(kBoxFontName, kBoxFontSize);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  // "Terminal" seldom exists here; fall back to the desktop's fixed-pitch family,
  // or, when the desktop's choice is not marked fixed pitch (so the Settings
  // dialog would not list it), to a family that is.
  if (!QFontInfo(font).fixedPitch())
    font.setFamily(QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
  if (!QFontInfo(font).fixedPitch()) {
    const QStringList families = QFontDatabase::families();
    const auto fixed = std::find_if(families.begin(), families.end(), [](const QString& family) {
      return QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family);
    });
    if (families.contains("DejaVu Sans Mono"))
      font.setFamily("DejaVu Sans Mono");
    else if (fixed != families.end())
      font.setFamily(*fixed);
  }
  return font;
}

QFrame* NewFrame(QWidget* parent, const char* name) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(name);
  return frame;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

QLabel* NewCaptionStrip(QWidget* parent, const char* name, const char* caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

} // namespace

TPelrowForm::TPelrowForm(TPelrowStartup startup, QWidget* parent)
    : QMainWindow(parent), FStartup(std::move(startup)) {
  setObjectName("PelrowForm");
  FErrorBox = [this](const std::string& text) {
    QString shown = Latin1(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox::critical(this, windowTitle(), shown, QMessageBox::Ok);
  };
  BuildControls();
  BuildMainMenu();
  BuildPopupMenu();
  BindMenuHandlers();
  SetFirstStartSize();
  FormCreate();
}

TPelrowForm::~TPelrowForm() {
  // Before the boxes go: a file still loading would fill the Out box, and one being
  // saved reads a box.
  FFileLoader.CancelLoad();
  FLoadAfterSave.reset();
  FFileSaver.CancelSave();
  FSplitSaver.CancelSave();
}

// ---- layout ---------------------------------------------------------------------------

void TPelrowForm::BuildControls() {
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Bevel1 = NewFrame(client, "Bevel1");
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  Bevel1->setFixedHeight(kBevelHeight);
  column->addWidget(Bevel1);

  LogHSplitter = new QSplitter(Qt::Vertical, client);
  LogHSplitter->setObjectName("LogHSplitter");
  LogHSplitter->setHandleWidth(kSplitterWidth);
  LogHSplitter->setChildrenCollapsible(false);
  column->addWidget(LogHSplitter, 1);

  PanelMain = new QWidget(LogHSplitter);
  PanelMain->setObjectName("PanelMain");
  auto* mainRow = new QHBoxLayout(PanelMain);
  mainRow->setContentsMargins(0, 0, 0, 0);
  Splitter = new QSplitter(Qt::Horizontal, PanelMain);
  Splitter->setObjectName("Splitter");
  Splitter->setHandleWidth(kSplitterWidth);
  Splitter->setChildrenCollapsible(false);
  mainRow->addWidget(Splitter);

  Splitter->addWidget(
      BuildBoxSide(PanelOut, PanelOutTop, SXOutput, PanelOutBottom, "Out", kOutCaption));
  BSend = NewButton(PanelOutBottom, "BSend", SendCaption);
  BClear = NewButton(PanelOutBottom, "BClear", kClearOutCaption);
  PanelOutBottom->layout()->addWidget(BSend);
  PanelOutBottom->layout()->addWidget(BClear);
  static_cast<QHBoxLayout*>(PanelOutBottom->layout())->addStretch();

  Splitter->addWidget(BuildBoxSide(PanelIn, PanelInTop, SXInput, PanelInBottom, "In", kInCaption));
  BClearInput = NewButton(PanelInBottom, "BClearInput", kClearInCaption);
  PanelInBottom->layout()->addWidget(BClearInput);
  static_cast<QHBoxLayout*>(PanelInBottom->layout())->addStretch();

  // Like a panel aligned left, the Out side keeps its width when the window resizes.
  Splitter->setStretchFactor(0, 0);
  Splitter->setStretchFactor(1, 1);
  SetLeftWidth(Splitter, kOutPanelWidth);
  FSplitterPos = kOutPanelWidth;

  SXOutput->SetAllowDragSelection(false);
  connect(BSend, &QPushButton::clicked, this, &TPelrowForm::BSendClick);
  connect(BClear, &QPushButton::clicked, this, &TPelrowForm::BClearClick);
  connect(BClearInput, &QPushButton::clicked, this, &TPelrowForm::BClearInputClick);

  BuildLogArea();
  BuildBulkDumpPanel();

  PStatusBar = new TStatusBar(client);
  PStatusBar->setObjectName("PStatusBar");
  column->addWidget(PStatusBar);

  for (QWidget* watched : {static_cast<QWidget*>(PStatusBar), PanelIn, PanelOut,
                           static_cast<QWidget*>(LogOut), static_cast<QWidget*>(LogIn)})
    watched->installEventFilter(this);
  // Only the user's drags move the other splitter or change the stored sizes: the
  // sizes the splitters take while the window is first laid out are not a choice.
  connect(LogVSplitter, &QSplitter::splitterMoved, this, &TPelrowForm::LogOutResize);
  connect(Splitter, &QSplitter::splitterMoved, this, [this] { FSplitterPos = SplitterPos(); });
  connect(LogHSplitter, &QSplitter::splitterMoved, this,
          [this] { FLogListsHeight = LogHSplitter->sizes().value(1); });

  setCentralWidget(client);
}

QWidget* TPelrowForm::BuildBoxSide(QWidget*& panel, QLabel*& top, TVeskMemo*& box, QFrame*& bottom,
                                   const char* sideName, const char* caption) {
  const std::string side = sideName;
  panel = new QWidget;
  panel->setObjectName(QString::fromStdString("Panel" + side));
  // Only the box limits how narrow a side gets; buttons and caption are cut off, so
  // a side and the log under it can always take the same width.
  panel->setMinimumWidth(kBoxMinWidth);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  top = NewCaptionStrip(panel, ("Panel" + side + "Top").c_str(), caption);
  column->addWidget(top);

  box = NewBox(side == "Out" ? "SXOutput" : "SXInput", false);
  box->setParent(panel);
  column->addWidget(box, 1);

  bottom = NewFrame(panel, ("Panel" + side + "Bottom").c_str());
  bottom->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  bottom->setFixedHeight(kButtonRowHeight);
  auto* row = new QHBoxLayout(bottom);
  row->setContentsMargins(4, 4, 4, 4);
  column->addWidget(bottom);
  return panel;
}

void TPelrowForm::BuildLogArea() {
  LogPanel = new QWidget(LogHSplitter);
  LogPanel->setObjectName("LogPanel");
  LogPanel->setMinimumHeight(kLogPanelMinHeight);
  auto* row = new QHBoxLayout(LogPanel);
  row->setContentsMargins(0, 0, 0, 0);
  LogVSplitter = new QSplitter(Qt::Horizontal, LogPanel);
  LogVSplitter->setObjectName("LogVSplitter");
  LogVSplitter->setHandleWidth(kSplitterWidth);
  LogVSplitter->setChildrenCollapsible(false);
  row->addWidget(LogVSplitter);

  LogOut = NewBox("LogOut", true);
  LogIn = NewBox("LogIn", true);
  LogVSplitter->addWidget(LogOut);
  LogVSplitter->addWidget(LogIn);
  LogVSplitter->setStretchFactor(0, 0);
  LogVSplitter->setStretchFactor(1, 1);
  SetLeftWidth(LogVSplitter, kOutPanelWidth);

  LogHSplitter->setStretchFactor(0, 1);
  LogHSplitter->setStretchFactor(1, 0);
  SetLogListsHeight(std::max(kLogListsHeight, TwoLogLinesHeight()));
}

// A report often has two lines (what failed, then the system's reason), so the log
// area shows at least two whole lines of the logs' font, whatever that font is.
int TPelrowForm::TwoLogLinesHeight() const {
  int height = 0;
  for (const TVeskMemo* log : {LogOut, LogIn})
    height = std::max(height, 2 * log->LineHeight() + 2 * log->frameWidth());
  return height;
}

void TPelrowForm::KeepTwoLogLinesVisible() {
  if (LogListsHeight() < TwoLogLinesHeight())
    SetLogListsHeight(TwoLogLinesHeight());
}

void TPelrowForm::BuildBulkDumpPanel() {
  PRcvBulkDump = NewFrame(PanelMain, "PRcvBulkDump");
  PRcvBulkDump->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PRcvBulkDump->setAutoFillBackground(true);
  auto* column = new QVBoxLayout(PRcvBulkDump);
  auto* heading = new QLabel(kBulkDumpHeading, PRcvBulkDump);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  heading->setAlignment(Qt::AlignCenter);
  LSysExRcvd = new QLabel(PRcvBulkDump);
  LSysExRcvd->setObjectName("LSysExRcvd");
  LReceivedSpeed = new QLabel(PRcvBulkDump);
  LReceivedSpeed->setObjectName("LReceivedSpeed");
  column->addWidget(heading);
  column->addWidget(LSysExRcvd);
  column->addWidget(LReceivedSpeed);
  // Wide enough for a fast rate, whatever the font.
  const QMargins margins = column->contentsMargins();
  const int rateWidth = LReceivedSpeed->fontMetrics().horizontalAdvance(kWidestBulkRate) +
                        margins.left() + margins.right() + 2 * PRcvBulkDump->frameWidth();
  PRcvBulkDump->setFixedSize(std::max(kBulkDumpWidth, rateWidth),
                             std::max(kBulkDumpHeight, column->sizeHint().height()));
  PRcvBulkDump->hide();
}

TVeskMemo* TPelrowForm::NewBox(const char* name, bool readOnly) {
  auto* box = new TVeskMemo;
  box->setObjectName(name);
  box->setMinimumWidth(kBoxMinWidth);
  box->SetFont(BoxFont());
  box->SetBorderStyle(TVKBorderStyle::bsNone);
  box->GutterOptions().SetVisible(false);
  box->SetWantTabs(false);
  box->SetReadOnly(readOnly);
  box->OnContextPopup = [this](TVKCustomMemo& sender, const QPoint& globalPos) {
    ShowPopupFor(&sender, globalPos);
  };
  return box;
}

// A first start (no stored size): both boxes side by side at equal width, each
// showing a line of 16 bytes and a screenful of lines, the logs a few lines and the
// status line whole; within the work area. Stored sizes replace these later.
void TPelrowForm::SetFirstStartSize() {
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int boxWidth = kFirstStartBoxColumns * SXOutput->CharWidth() + bar + 2;
  const int logHeight = kFirstStartLogLines * LogOut->LineHeight() + 2 * LogOut->frameWidth();
  const int height = menuBar()->sizeHint().height() + kBevelHeight +
                     PanelOutTop->sizeHint().height() +
                     kFirstStartBoxLines * SXOutput->LineHeight() + bar + kButtonRowHeight +
                     kSplitterWidth + logHeight + PStatusBar->sizeHint().height();
  QSize size(2 * boxWidth + kSplitterWidth, height);
  if (const QScreen* shownOn = screen())
    size = size.boundedTo(shownOn->availableGeometry().size() * kFirstStartScreenShare);
  resize(size);
  SetSplitterPos((size.width() - kSplitterWidth) / 2);
  SetLogListsHeight(logHeight);
}

void TPelrowForm::SetLeftWidth(QSplitter* splitter, int width) {
  const QList<int> sizes = splitter->sizes();
  const int total = sizes.size() == 2 && sizes[0] + sizes[1] > 0 ? sizes[0] + sizes[1]
                                                                 : kClientWidth - kSplitterWidth;
  splitter->setSizes({width, std::max(0, total - width)});
}

// ---- menus ----------------------------------------------------------------------------

void TPelrowForm::BuildMainMenu() {
  QMenu* current = nullptr;
  for (const TMenuItemDef& item : MainMenuItems()) {
    if (item.Kind != TMenuItemKind::Menu) {
      AddMenuItem(current, item);
      continue;
    }
    current = menuBar()->addMenu(item.Caption);
    current->setObjectName(item.Name);
    FMenus[item.Name] = current;
  }
}

void TPelrowForm::BuildPopupMenu() {
  Popup1 = new QMenu(this);
  Popup1->setObjectName("Popup1");
  for (const TMenuItemDef& item : PopupMenuItems())
    AddMenuItem(Popup1, item);
}

void TPelrowForm::AddMenuItem(QMenu* menu, const TMenuItemDef& item) {
  QAction* action =
      item.Kind == TMenuItemKind::Separator ? menu->addSeparator() : menu->addAction(item.Caption);
  action->setObjectName(item.Name);
  action->setStatusTip(item.Hint);
  action->setCheckable(item.Kind == TMenuItemKind::Check);
  FMenuItems[item.Name] = action;
}

void TPelrowForm::BindMenuHandlers() {
  using THandler = void (TPelrowForm::*)();
  const std::pair<const char*, THandler> handlers[] = {
      {"Open1", &TPelrowForm::Open1Click},
      {"SaveOutAs1", &TPelrowForm::SaveOutAs1Click},
      {"SaveInAs1", &TPelrowForm::SaveInAs1Click},
      {"Exit1", &TPelrowForm::Exit1Click},
      {"Settings1", &TPelrowForm::Settings1Click},
      {"MidiThru1", &TPelrowForm::MidiThru1Click},
      {"EnableActiveSensing1", &TPelrowForm::EnableActiveSensing1Click},
      {"EnableMidiTimeCode1", &TPelrowForm::EnableMidiTimeCode1Click},
      {"Splitlongsysexmessages1", &TPelrowForm::Splitlongsysexmessages1Click},
      {"ClearLogs1", &TPelrowForm::ClearLogs1Click},
      {"PelrowHomepage1", &TPelrowForm::PelrowHomepage1Click},
      {"About1", &TPelrowForm::About1Click},
      {"Send1", &TPelrowForm::BSendClick},
  };
  for (const auto& [name, handler] : handlers)
    connect(MenuItem(name), &QAction::triggered, this, handler);

  // The context menu's editing commands act on the box it was opened on.
  using TBoxCommand = void (TVKCustomMemo::*)();
  const std::pair<const char*, TBoxCommand> boxCommands[] = {
      {"Copy1", &TVKCustomMemo::CopyToClipboard}, {"Paste1", &TVKCustomMemo::PasteFromClipboard},
      {"Cut1", &TVKCustomMemo::CutToClipboard},   {"Delete1", &TVKCustomMemo::DeleteSelection},
      {"SelectAll1", &TVKCustomMemo::SelectAll},  {"Clear1", &TVKCustomMemo::Clear},
  };
  for (const auto& [name, command] : boxCommands)
    connect(MenuItem(name), &QAction::triggered, this, [this, command = command] {
      if (FPopupBox)
        (FPopupBox->*command)();
    });
}

QAction* TPelrowForm::MenuItem(const std::string& name) const {
  const auto found = FMenuItems.find(name);
  return found == FMenuItems.end() ? nullptr : found->second;
}

QMenu* TPelrowForm::Menu(const std::string& name) const {
  const auto found = FMenus.find(name);
  return found == FMenus.end() ? nullptr : found->second;
}

// ---- start-up and shutdown ------------------------------------------------------------

void TPelrowForm::FormCreate() {
  if (IsSecondInstance()) {
    FSecondInstance = true;
    return;
  }
  SetCaptionFromProductInfo();
  PRcvBulkDump->hide();
  for (TVeskMemo* box : {SXOutput, SXInput, LogIn, LogOut})
    box->Lines().Clear();
  FSendSpeed = kSendSpeedDefault;
  ConnectDeviceMenus();
  ConnectSendReceive();
  SetSplitLongMessagesThreshold(kSplitThresholdDefault);
  ConnectOneInstance();
  LoadSettings();
  BSend->setText(SendCaption);
  ConnectFileUnits();
  ConnectCheckAndSplit();
  ConnectRecentFiles();
  for (TVeskMemo* log : {LogOut, LogIn})
    log->SetScrollbars(TVKScrolls::sbVertical);
  for (TVeskMemo* box : {SXOutput, SXInput})
    box->SetScrollbars(TVKScrolls::sbBoth);
}

void TPelrowForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // A window restored from the task bar is shown again by the desktop; the deferred
  // start-up belongs to the program showing its window.
  if (!event->spontaneous())
    FormShow();
}

void TPelrowForm::FormShow() {
  SetHomepageFromProductInfo();
  DisableLoopDetection();
  // The rest runs from the event loop, so the window is on screen while devices open.
  QMetaObject::invokeMethod(this, &TPelrowForm::WMAfterShow, Qt::QueuedConnection);
}

void TPelrowForm::WMAfterShow() {
  repaint();
  for (const TStartupReport& report : FStartup.Reports)
    ShowStatus(report.Text, TStatusSide::Out, report.Kind, false);
  LoadStoredDevices();
  if (!FStartup.FileNames.empty())
    OpenFileList(FStartup.FileNames);
  if (SXOutput->Lines().Count() == 0)
    SXOutput->AppendText(DefaultOutBoxText);
}

void TPelrowForm::closeEvent(QCloseEvent* event) {
  // A running send is cancelled first; the window closes once it has ended.
  if (FSendReceive && !FSendReceive->Engine.QueryClose()) {
    event->ignore();
    return;
  }
  // A file still loading is dropped; the Out box keeps what it had. A save under way
  // is stopped: the earlier file stays as it was, and no half-written one is left.
  FFileLoader.CancelLoad();
  FLoadAfterSave.reset();
  FFileSaver.CancelSave();
  FSplitSaver.CancelSave();
  FormClose();
  QMainWindow::closeEvent(event);
}

void TPelrowForm::FormClose() {
  SaveRecentFiles();
  SaveSettings();
  CloseDevices();
}

void TPelrowForm::OpenFileList(const std::vector<std::string>& fileNames) {
  if (!fileNames.empty())
    LoadFile(fileNames.back());
}

// ---- commands -------------------------------------------------------------------------

void TPelrowForm::Exit1Click() {
  close();
}

void TPelrowForm::BClearClick() {
  SXOutput->Clear();
}

void TPelrowForm::BClearInputClick() {
  SXInput->Clear();
}

void TPelrowForm::ClearLogs1Click() {
  LogIn->Clear();
  LogOut->Clear();
}

void TPelrowForm::ShowPopupFor(TVKCustomMemo* box, const QPoint& globalPos) {
  Popup1Popup(box);
  Popup1->popup(globalPos);
}

void TPelrowForm::Popup1Popup(TVKCustomMemo* box) {
  FPopupBox = box;
  const TPopupState state =
      PopupStateFor({box == SXOutput, box->SelAvail(), box->ReadOnly(), box->Clipboard().HasText(),
                     box == SXOutput || box == SXInput});
  const std::pair<const char*, TPopupItemState> items[] = {
      {"Copy1", state.Copy},     {"Paste1", state.Paste},         {"Cut1", state.Cut},
      {"Delete1", state.Delete}, {"SelectAll1", state.SelectAll}, {"Clear1", state.Clear},
      {"Send1", state.Send},     {"CheckData1", state.CheckData},
  };
  for (const auto& [name, itemState] : items) {
    QAction* action = MenuItem(name);
    action->setVisible(itemState.Visible);
    action->setEnabled(itemState.Enabled);
  }
}

// ---- status line and logs -------------------------------------------------------------

void TPelrowForm::ShowStatus(const std::string& text, TStatusSide side, TStatusKind kind,
                             bool immediate) {
  const TStatusPlan plan = PlanStatus(text, kind);
  const bool isOut = side == TStatusSide::Out;
  PStatusBar->SetPanelText(isOut ? 0 : 1, Latin1(plan.Shown));
  if (!plan.LogLines.empty()) {
    TVeskMemo* log = isOut ? LogOut : LogIn;
    log->Lines().AddStrings(plan.LogLines);
    log->ScrollToEnd();
    if (immediate)
      log->repaint();
  }
  if (immediate)
    PStatusBar->repaint();
  if (plan.ShowErrorBox && FErrorBox)
    FErrorBox(text);
}

TShowStatus TPelrowForm::StatusReporter() {
  return [this](const std::string& text, TStatusSide side, TStatusKind kind, bool immediate) {
    ShowStatus(text, side, kind, immediate);
  };
}

bool TPelrowForm::LogListsVisible() const {
  return !LogPanel->isHidden();
}

// The height chosen (stored, set or dragged to), also while the logs are hidden or
// the window is not laid out yet.
int TPelrowForm::LogListsHeight() const {
  return FLogListsHeight;
}

void TPelrowForm::SetLogListsHeight(int height) {
  FLogListsHeight = std::max(kLogPanelMinHeight, height);
  if (LogListsVisible()) {
    const QList<int> sizes = LogHSplitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    LogHSplitter->setSizes({std::max(0, total - FLogListsHeight), FLogListsHeight});
  }
}

void TPelrowForm::SetLogListsVisible(bool show) {
  if (show == LogListsVisible())
    return;
  if (!show) {
    LogPanel->hide(); // the splitter hides its handle with it
    return;
  }
  LogPanel->show();
  SetLogListsHeight(LogHeightWhenShown(SXOutput->height(), FLogListsHeight));
  PanelOutResize();
}

bool TPelrowForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    AppHint(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TPelrowForm::AppHint(const QString& hint) {
  PStatusBar->SetSimpleText(hint);
  PStatusBar->SetSimplePanel(!hint.isEmpty());
}

// ---- coupled widths -------------------------------------------------------------------

bool TPelrowForm::eventFilter(QObject* watched, QEvent* event) {
  // The log measures its new font only after this filter has seen the change.
  if (event->type() == QEvent::FontChange && (watched == LogOut || watched == LogIn))
    QMetaObject::invokeMethod(this, &TPelrowForm::KeepTwoLogLinesVisible, Qt::QueuedConnection);
  if (event->type() == QEvent::Resize) {
    if (watched == PStatusBar)
      PStatusBarResize();
    else if (watched == PanelIn)
      PanelInResize();
    else if (watched == PanelOut)
      PanelOutResize();
  }
  return QMainWindow::eventFilter(watched, event);
}

void TPelrowForm::PStatusBarResize() {
  UpdateStatusPanelWidths();
}

void TPelrowForm::PanelInResize() {
  UpdateStatusPanelWidths();
}

void TPelrowForm::PanelOutResize() {
  UpdateStatusPanelWidths();
  if (FSyncingWidths || !LogListsVisible())
    return;
  FSyncingWidths = true;
  SetLeftWidth(LogVSplitter, PanelOut->width());
  FSyncingWidths = false;
}

void TPelrowForm::LogOutResize() {
  if (FSyncingWidths)
    return;
  FSyncingWidths = true;
  SetLeftWidth(Splitter, LogOut->width());
  FSplitterPos = LogOut->width();
  FSyncingWidths = false;
}

void TPelrowForm::UpdateStatusPanelWidths() {
  const int splitterLeft = PanelOut->mapTo(this, QPoint(PanelOut->width(), 0)).x();
  const int statusLeft = PStatusBar->mapTo(this, QPoint(0, 0)).x();
  PStatusBar->SetPanel0Width(splitterLeft - statusLeft + kStatusSplitOffset);
}

// Until the window is laid out the splitter's sizes are not yet its own; the
// position given stands.
int TPelrowForm::SplitterPos() const {
  return Splitter->isVisible() ? Splitter->sizes().value(0) : FSplitterPos;
}

void TPelrowForm::SetSplitterPos(int pos) {
  FSplitterPos = pos;
  SetLeftWidth(Splitter, pos);
  SetLeftWidth(LogVSplitter, pos);
}

// ---- places that later components fill in ---------------------------------------------

// The single-instance check ran before the window was made; a window without the
// guard (tests) is always the first.
bool TPelrowForm::IsSecondInstance() const {
  return FStartup.OneInstance != nullptr && FStartup.OneInstance->IsSecondInstance();
}

void TPelrowForm::SetCaptionFromProductInfo() {
  const QString caption = Latin1(ProgramName() + " " + ShortVersion());
  setWindowTitle(caption);
  // The application title follows, so the desktop does not append it a second time.
  QApplication::setApplicationDisplayName(caption);
}

void TPelrowForm::SetHomepageFromProductInfo() {
  GoToWeb.Url = HomepageURL();
  MenuItem("PelrowHomepage1")->setStatusTip(Latin1(HomepageURL()));
}

} // namespace pelrow
