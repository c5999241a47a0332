// The main window's device menus: the "Midi In" and "Midi Out" menus over the
// device-menu components, their reports, the devices restored after the window
// shows and closed when it closes, and the device-change notice of the MIDI system.
#include "app/qt/menu_mirror.h"
#include "app/qt/pelrow_form.h"
#include "app/settings_target.h"
#include "midi/midi_menu.h"
#include "support/merged_notice.h"
#include "support/product_info.h"
#include "support/qt/qt_services.h"

#include <QAction>
#include <QApplication>

namespace pelrow {

namespace {
// Shows the hourglass while a device opens or closes; the platform calls block.
void ShowBusyCursor(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}
} // namespace

// The device menus receive their error handlers, the settings path and the menus
// they fill here.
void TPelrowForm::ConnectDeviceMenus() {
  if (!FStartup.MidiService)
    return;
  TMidiService& service = *FStartup.MidiService;
  FUiPoster = std::make_unique<TQtUiPoster>();
  MidiInMenu = std::make_unique<TMidiInMenu>(service, *FUiPoster, &MakeQtTimer);
  MidiOutMenu = std::make_unique<TMidiOutMenu>(service, &MakeQtTimer);
  for (TMidiMenuBase* menu : {static_cast<TMidiMenuBase*>(MidiInMenu.get()),
                              static_cast<TMidiMenuBase*>(MidiOutMenu.get())}) {
    menu->RegPath = AppRegPath();
    menu->LegacyRegPath = CompanyName() + "\\" + ProgramName();
    menu->SetRegistry(FStartup.Settings);
    menu->BusyCursor = &ShowBusyCursor;
    menu->OnTextMessage = [this](TMidiMenuBase& sender, const std::string& text) {
      MidiMenuTextMessage(sender, text);
    };
    menu->OnError = [this](TMidiMenuBase& sender, const std::string& text) {
      MidiMenuError(sender, text);
    };
  }
  MidiInMenu->SetBaseMenu(&FMidiInModel);
  MidiOutMenu->SetBaseMenu(&FMidiOutModel);
  FMidiInMirror = std::make_unique<TMenuMirror>(FMidiInModel, *Menu("MidiIn1"));
  FMidiOutMirror = std::make_unique<TMenuMirror>(FMidiOutModel, *Menu("MidiOut1"));

  FDevicesChangedNotice = std::make_unique<TMergedNotice>(*FUiPoster, [this] { DevicesChanged(); });
  service.SetOnDevicesChanged(FDevicesChangedNotice->Raiser());
}

void TPelrowForm::MidiMenuTextMessage(TMidiMenuBase& sender, const std::string& text) {
  const TStatusSide side = &sender == MidiInMenu.get() ? TStatusSide::In : TStatusSide::Out;
  ShowStatus(text, side, TStatusKind::Plain, true);
}

void TPelrowForm::MidiMenuError(TMidiMenuBase& sender, const std::string& text) {
  const TStatusSide side = &sender == MidiInMenu.get() ? TStatusSide::In : TStatusSide::Out;
  ShowStatus(text, side, TStatusKind::ErrorBox, false);
}

// The MIDI system's nodes changed: both menus follow, however many notices came.
void TPelrowForm::DevicesChanged() {
  if (MidiInMenu)
    MidiInMenu->RefreshDeviceList(false, true);
  if (MidiOutMenu)
    MidiOutMenu->RefreshDeviceList(false, true);
}

// Loop detection starts off on both devices; the stored device settings, read after
// the window is shown, may switch it on again.
void TPelrowForm::DisableLoopDetection() {
  if (MidiInMenu)
    MidiInMenu->Device().SetDetectMidiLoop(false);
  if (MidiOutMenu)
    MidiOutMenu->Device().SetDetectMidiLoop(false);
}

// The stored devices are opened (or waited for), and the stored input filters are
// moved onto the Options menu; the SysEx-only choice belongs to the window's own
// filter, never the input's.
void TPelrowForm::LoadStoredDevices() {
  if (!MidiInMenu || !MidiOutMenu)
    return;
  MidiInMenu->LoadFromRegistry();
  MidiOutMenu->LoadFromRegistry();
  MenuItem("EnableActiveSensing1")->setChecked(MidiInMenu->ActiveSensing());
  MenuItem("EnableMidiTimeCode1")->setChecked(MidiInMenu->TimingClock());
  if (MidiInMenu->SysExOnly()) {
    MidiInMenu->SetSysExOnly(false);
    SettingsTarget().SetSysExOnly(true);
  }
}

// Both device menus close their devices, input first.
void TPelrowForm::CloseDevices() {
  if (MidiInMenu)
    MidiInMenu->CloseWithCursor();
  if (MidiOutMenu)
    MidiOutMenu->CloseWithCursor();
}

TMidiOutput* TPelrowForm::CurrentOutput() {
  return MidiOutMenu ? &MidiOutMenu->Output() : nullptr;
}

TMidiInput* TPelrowForm::CurrentInput() {
  return MidiInMenu ? &MidiInMenu->Input() : nullptr;
}

} // namespace pelrow
