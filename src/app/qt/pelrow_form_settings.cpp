// The main window's settings: the options and the window placement read from the
// settings store while the window is made and written when it closes, and the
// Settings dialog that edits the live options in between.
#include "app/app_settings.h"
#include "app/qt/pelrow_form.h"
#include "app/qt/pelrow_settings_target.h"
#include "app/qt/settings_form.h"
#include "midi/midi_menu.h"
#include "support/reg_ini_file.h"
#include "support/registry_store.h"
#include "support/window_placement.h"

#include <QScreen>

namespace pelrow {

namespace {
TRect ToRect(const QRect& rect) {
  return {rect.left(), rect.top(), rect.width(), rect.height()};
}
} // namespace

TSettingsTarget& TPelrowForm::SettingsTarget() {
  if (!FSettingsTarget)
    FSettingsTarget = std::make_unique<TPelrowSettingsTarget>(*this);
  return *FSettingsTarget;
}

// Positions are the client area's, as setGeometry takes them back.
TWindowPlacementState TPelrowForm::PlacementState() const {
  TWindowPlacementState window;
  window.Bounds = ToRect(geometry());
  if (isMinimized())
    window.State = WindowStateMinimized;
  else if (isMaximized())
    window.State = WindowStateMaximized;
  if (window.State != WindowStateNormal && normalGeometry().isValid())
    window.NormalBounds = ToRect(normalGeometry());
  window.Visible = isVisible();
  window.Style = windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? WindowStyleStayOnTop : 0;
  window.IsMainWindow = true;
  return window;
}

TRect TPelrowForm::WorkArea() const {
  const QScreen* shownOn = screen();
  return shownOn ? ToRect(shownOn->availableGeometry()) : ToRect(geometry());
}

TAppSettings TPelrowForm::LiveSettings() {
  TSettingsTarget& live = SettingsTarget();
  TAppSettings settings;
  settings.SplitterPos = SplitterPos();
  settings.MidiThru = live.MidiThru();
  settings.SendSpeed = live.SendSpeed();
  settings.MessageGap = live.MessageGap();
  settings.SplitLongMessages = live.SplitLongMessages();
  settings.SplitLongMessagesThreshold = SplitLongMessagesThreshold();
  settings.FontName = live.BoxFontName();
  settings.FontSize = live.BoxFontSize();
  settings.LogListsHeight = LogListsHeight();
  settings.ShowLogLists = live.LogListsVisible();
  settings.AllowMultipleInstances = !live.OneInstance();
  settings.SysExOnly = live.SysExOnly();
  return settings;
}

void TPelrowForm::ApplySettings(const TAppSettings& settings) {
  TSettingsTarget& live = SettingsTarget();
  SetSplitterPos(settings.SplitterPos);
  live.SetMidiThru(settings.MidiThru);
  live.SetSendSpeed(settings.SendSpeed);
  live.SetMessageGap(settings.MessageGap);
  live.SetSplitLongMessages(settings.SplitLongMessages);
  SetSplitLongMessagesThreshold(settings.SplitLongMessagesThreshold);
  live.SetBoxFont(settings.FontName, settings.FontSize);
  SetLogListsHeight(settings.LogListsHeight);
  live.SetLogListsVisible(settings.ShowLogLists);
  live.SetOneInstance(!settings.AllowMultipleInstances);
  live.SetSysExOnly(settings.SysExOnly);
}

// Options, window placement and fonts are read from the settings store here. The
// window is not shown yet: a stored state says how it is first shown.
void TPelrowForm::LoadSettings() {
  if (FStartup.Settings == nullptr)
    return;
  TAppSettings settings = LiveSettings();
  // The window is not laid out yet, so the splitters report no sizes of their own.
  const TAppSettings designed;
  settings.LogListsHeight = FLogListsHeight;
  if (settings.SplitterPos <= 0)
    settings.SplitterPos = designed.SplitterPos;
  // Several copies are allowed unless the user said otherwise, whatever the guard
  // started with.
  settings.AllowMultipleInstances = designed.AllowMultipleInstances;
  const TPlacementResult placement = LoadAppSettings(*FStartup.Settings, ProgramSettingsKeys(),
                                                     PlacementState(), WorkArea(), settings);
  const TRect& bounds = placement.Bounds;
  setGeometry(bounds.Left, bounds.Top, bounds.Width, bounds.Height);
  if (placement.Style == WindowStyleStayOnTop)
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (placement.ShowState == WindowStateMaximized) {
    setWindowState(Qt::WindowMaximized);
  } else if (placement.ShowState == WindowStateMinimized) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowState(Qt::WindowMinimized);
  }
  // A stored "not visible" is not followed: the main window hidden at start would
  // leave the user no way to reach the program.
  ApplySettings(settings);
}

// Options, window placement and fonts are written here; a handing-over second
// instance (FSecondInstance) never writes them.
void TPelrowForm::SaveSettings() {
  if (FSecondInstance || FStartup.Settings == nullptr)
    return;
  TAppSettingsSavers savers;
  savers.SaveDeviceMenus = [this](TRegIniFile& ini) {
    if (MidiInMenu)
      MidiInMenu->SaveSettings(ini);
    if (MidiOutMenu)
      MidiOutMenu->SaveSettings(ini);
  };
  SaveAppSettings(*FStartup.Settings, ProgramSettingsKeys(), PlacementState(), WorkArea(),
                  LiveSettings(), savers);
  SaveSettingsFile();
}

// The store's own problems reach the user: a settings file held by a hung copy saves
// nothing (the start already said so), anything else raises its box before the
// window goes.
void TPelrowForm::SaveSettingsFile() {
  TRegistryStore& store = *FStartup.Settings;
  if (store.Save())
    return;
  const TStatusKind kind = store.ReadOnly() ? TStatusKind::Plain : TStatusKind::ErrorBox;
  ShowStatus(store.LastError(), TStatusSide::Out, kind, true);
}

void TPelrowForm::Settings1Click() {
  if (SettingsForm == nullptr)
    return;
  SettingsForm->show();
  SettingsForm->raise();
  SettingsForm->activateWindow();
}

} // namespace pelrow
