// The main window: the Out and In boxes side by side with their buttons, the two
// action logs under them, the two-panel status bar, the menus and the context menu;
// the order of start-up and shutdown; and ShowStatus, the one way the program
// reports to the user.
#pragma once

#include "app/command_line.h"
#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/split_saver.h"
#include "app/status_report.h"
#include "files/history_list.h"
#include "midi/menu_model.h"
#include "support/clock.h"
#include "support/registry_store.h"
#include "support/web_link.h"

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QSocketNotifier;
class QSplitter;

namespace pelrow {

class TInputBlock;
class TMenuMirror;
class TMergedNotice;
class TMidiInMenu;
class TMidiInput;
class TMidiMenuBase;
class TMidiOutMenu;
class TMidiOutput;
class TOneInstance;
class TQtUiPoster;
class TReceivePump;
class TRegistryStore;
class TSendEngine;
struct TSendReceiveParts;
class TSettingsForm;
class TSettingsTarget;
class TSplashForm;
class TStatusBar;
struct TAppSettings;
struct TMenuItemDef;
struct TRect;
struct TWindowPlacementState;
class TVKCustomMemo;
class TVeskMemo;

// Shows a modal error message with one OK button; tests put their own in its place.
using TErrorBox = std::function<void(const std::string& text)>;

// Something the start-up found out before the window existed (the MIDI system
// chosen, a settings file in use), reported on the Out side once the window shows.
struct TStartupReport {
  std::string Text;
  TStatusKind Kind = TStatusKind::Plain;
};

struct TPelrowStartup {
  std::vector<std::string> FileNames; // from the command line, in order
  // The MIDI system chosen at start-up, for the device menus; none where a window
  // is made without MIDI (tests).
  std::shared_ptr<TMidiService> MidiService;
  std::vector<TStartupReport> Reports; // in order, so the last stays in the panel
  // The user's settings, loaded; none where a window keeps no settings (tests). The
  // recent-files list lives there too; without it, in a store of the window's own
  // that is never loaded or saved.
  TRegistryStore* Settings = nullptr;
  // The single-instance guard, checked before the window was made; none in tests.
  TOneInstance* OneInstance = nullptr;
  // Clock and timers of sending, receiving and loading; none: the steady clock and
  // Qt's timers. Tests pass hand-moved ones.
  TClock* Clock = nullptr;
  TTimerFactory Timers = {};
};

class TPelrowForm : public QMainWindow {
  Q_OBJECT
public:
  static constexpr const char* SendCaption = "Send (F4)";
  static constexpr const char* CancelSendCaption = "Cancel (Esc)";

  explicit TPelrowForm(TPelrowStartup startup = {}, QWidget* parent = nullptr);
  ~TPelrowForm() override;

  // Status line and action logs.
  void ShowStatus(const std::string& text, TStatusSide side, TStatusKind kind, bool immediate);
  TShowStatus StatusReporter();
  void SetErrorBox(TErrorBox errorBox) { FErrorBox = std::move(errorBox); }
  void SetLogListsVisible(bool show);
  bool LogListsVisible() const;
  int LogListsHeight() const;
  void SetLogListsHeight(int height);
  void AppHint(const QString& hint);

  // Shows and enables the context menu's items for the box it opens on.
  void Popup1Popup(TVKCustomMemo* box);

  // Left edge of the splitter between the boxes, which is the Out side's width.
  int SplitterPos() const;
  void SetSplitterPos(int pos);

  // Opens the last of the given files into the Out box.
  void OpenFileList(const std::vector<std::string>& fileNames);
  // A large file goes on loading after the call returns (see Loading).
  virtual void LoadFile(const std::string& fileName);
  bool Loading() const { return FFileLoader.Loading(); }
  // Saves a box to the named file, as Save As does once its dialog is answered; a
  // large box goes on saving after the call returns (see Saving).
  void SaveBoxAs(TStatusSide side, const std::string& fileName);
  bool Saving() const { return FFileSaver.Saving() || FSplitSaver.Saving(); }
  // Saves each System Exclusive message of a box into a file of its own in folder, as
  // "Save ... as separate files" does once its folder dialog is answered.
  void SaveBoxSeparately(TStatusSide side, const std::string& folder);

  // Bytes per line when long messages are split, -1 when they are not.
  int SplitThreshold() const;

  // The input's data handler: every waiting event goes to thru and the In box.
  void MidiInData(TMidiInput& sender);
  TSendEngine& SendEngine();
  TReceivePump& ReceivePump();

  // Receive options, kept by the receive pump; the setters move the check marks.
  bool MidiThru() const;
  void SetMidiThru(bool value);
  bool SplitLongMessages() const;
  void SetSplitLongMessages(bool value);
  int SplitLongMessagesThreshold() const;
  void SetSplitLongMessagesThreshold(int value);
  bool SysExOnly() const;
  void SetSysExOnly(bool value);

  // Files.
  void MRUFilesClick(THistoryList& sender, const std::string& fileName);
  // Writes the recent-files list into the settings store; runs on close, before
  // the store is saved.
  void SaveRecentFiles();
  TRegistryStore& SettingsStore();

  QAction* MenuItem(const std::string& name) const;
  QMenu* Menu(const std::string& name) const;

  // The devices chosen in the Midi Out and Midi In menus, open or not; none when
  // the window runs without a MIDI system.
  TMidiOutput* CurrentOutput();
  TMidiInput* CurrentInput();
  // The live options as the Settings dialog edits them.
  TSettingsTarget& SettingsTarget();
  TOneInstance* OneInstance1() const { return FStartup.OneInstance; }

  // Made by the program entry after the window; About and Settings... show them.
  TSplashForm* SplashForm1 = nullptr;
  TSettingsForm* SettingsForm = nullptr;
  TGoToWeb GoToWeb;

  // Controls, named as the program names them.
  QFrame* Bevel1;
  QWidget* PanelMain;
  QWidget* PanelOut;
  QLabel* PanelOutTop;
  TVeskMemo* SXOutput;
  QFrame* PanelOutBottom;
  QPushButton* BSend;
  QPushButton* BClear;
  QSplitter* Splitter;
  QWidget* PanelIn;
  QLabel* PanelInTop;
  TVeskMemo* SXInput;
  QFrame* PanelInBottom;
  QPushButton* BClearInput;
  QSplitter* LogHSplitter;
  QWidget* LogPanel;
  QSplitter* LogVSplitter;
  TVeskMemo* LogOut;
  TVeskMemo* LogIn;
  TStatusBar* PStatusBar;
  QFrame* PRcvBulkDump;
  QLabel* LSysExRcvd;
  QLabel* LReceivedSpeed;
  QMenu* Popup1;

  // Live options, read and written by the settings and the Settings dialog (the
  // receive options are above). A running send reads the speed before every chunk.
  int FSendSpeed = 0;

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildControls();
  QWidget* BuildBoxSide(QWidget*& panel, QLabel*& top, TVeskMemo*& box, QFrame*& bottom,
                        const char* sideName, const char* caption);
  void BuildLogArea();
  void BuildBulkDumpPanel();
  void BuildMainMenu();
  void BuildPopupMenu();
  void AddMenuItem(QMenu* menu, const TMenuItemDef& item);
  TVeskMemo* NewBox(const char* name, bool readOnly);
  void BindMenuHandlers();

  // Start-up and shutdown.
  void FormCreate();
  void FormShow();
  void WMAfterShow();
  void FormClose();

  // Commands.
  void Exit1Click();
  void BClearClick();
  void BClearInputClick();
  void ClearLogs1Click();
  void ShowPopupFor(TVKCustomMemo* box, const QPoint& globalPos);

  // Coupled widths.
  void PStatusBarResize();
  void PanelInResize();
  void PanelOutResize();
  void LogOutResize();
  void UpdateStatusPanelWidths();
  int TwoLogLinesHeight() const;
  void KeepTwoLogLinesVisible();
  static void SetLeftWidth(QSplitter* splitter, int width);
  void SetFirstStartSize();

  // Places that later components fill in.
  bool IsSecondInstance() const;
  void SetCaptionFromProductInfo();
  void ConnectDeviceMenus();
  void ConnectRecentFiles();
  void DisableLoopDetection();
  void LoadSettings();
  void SaveSettings();
  void SetHomepageFromProductInfo();
  void LoadStoredDevices();
  void CloseDevices();
  void Open1Click();
  void SaveOutAs1Click();
  void SaveInAs1Click();
  void Settings1Click();
  void About1Click();
  void PelrowHomepage1Click();
  void BSendClick();
  void MidiThru1Click();
  void EnableActiveSensing1Click();
  void EnableMidiTimeCode1Click();
  void Splitlongsysexmessages1Click();

  // Sending and receiving (pelrow_form_send.cpp).
  void ConnectSendReceive();
  TClock& Clock();
  bool KeyPreview(QKeyEvent& event);
  void SXOutputKeyDown();
  void SendStarted();
  void SendEnded();

  // Checking a box and saving it as one file per message (pelrow_form_check.cpp).
  void ConnectCheckAndSplit();
  void CheckBox(TVeskMemo* box);

  // Files (pelrow_form_files.cpp).
  void ConnectFileUnits();
  void MirrorRecentFiles();
  void BusyCursor(bool busy);
  // Either saver is busy with the box of that side.
  void SaveBusy(bool busy, TStatusSide side);
  TVeskMemo* BoxOf(TStatusSide side) const;

  // Device menus, settings and the single-instance guard (their own source files).
  void MidiMenuTextMessage(TMidiMenuBase& sender, const std::string& text);
  void MidiMenuError(TMidiMenuBase& sender, const std::string& text);
  void DevicesChanged();
  void ConnectOneInstance();
  void OneInstance1InstanceStarted(const std::vector<std::string>& params);
  TWindowPlacementState PlacementState() const;
  TRect WorkArea() const;
  TAppSettings LiveSettings();
  void ApplySettings(const TAppSettings& settings);
  void SaveSettingsFile();

  TPelrowStartup FStartup;
  TErrorBox FErrorBox;
  std::map<std::string, QAction*> FMenuItems;
  std::map<std::string, QMenu*> FMenus;
  TVKCustomMemo* FPopupBox = nullptr;
  int FLogListsHeight = 0;
  int FSplitterPos = 0;
  bool FSyncingWidths = false;
  bool FSecondInstance = false;

  // Declared after FStartup, which holds the MIDI system: the devices go first. The
  // models outlive the menus that fill them, the poster the input that posts to it.
  TMenuModel FMidiInModel;
  TMenuModel FMidiOutModel;
  std::unique_ptr<TQtUiPoster> FUiPoster;
  std::unique_ptr<TMidiInMenu> MidiInMenu;
  std::unique_ptr<TMidiOutMenu> MidiOutMenu;
  std::unique_ptr<TMenuMirror> FMidiInMirror;
  std::unique_ptr<TMenuMirror> FMidiOutMirror;
  std::unique_ptr<TMergedNotice> FDevicesChangedNotice;
  std::unique_ptr<TSettingsTarget> FSettingsTarget;
  QSocketNotifier* FHandOverNotifier = nullptr;
  friend class TPelrowSettingsTarget;

  // After the device menus: the send engine and the receive pump use their devices.
  std::unique_ptr<TSendReceiveParts> FSendReceive;
  TRegistryStore FOwnSettings{""};
  THistoryList MRUFiles{SettingsStore()};
  // A large file loads on a worker thread, which posts its progress and end here;
  // meanwhile the window takes no input.
  std::unique_ptr<TQtUiPoster> FFilePoster;
  std::unique_ptr<TInputBlock> FLoadInputBlock;
  // A large box is saved on a worker thread too, as one file or one per message;
  // until it ends neither the user nor the receive pump changes it, and a file to
  // load waits here.
  std::unique_ptr<TInputBlock> FSaveInputBlock;
  std::optional<std::string> FLoadAfterSave;
  TFileLoader FFileLoader{Clock()};
  TFileSaver FFileSaver;
  TSplitSaver FSplitSaver;
};

} // namespace pelrow
