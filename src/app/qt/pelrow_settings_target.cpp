#include "app/qt/pelrow_settings_target.h"

#include "app/qt/pelrow_form.h"
#include "app/qt/settings_form.h"
#include "app/send_engine.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_menu.h"
#include "support/one_instance.h"

#include <QAction>

#include <algorithm>

namespace pelrow {

bool TPelrowSettingsTarget::Checked(const char* item) const {
  return FForm.MenuItem(item)->isChecked();
}

void TPelrowSettingsTarget::SetChecked(const char* item, bool value) {
  FForm.MenuItem(item)->setChecked(value);
}

bool TPelrowSettingsTarget::MidiThru() const {
  return FForm.MidiThru();
}

void TPelrowSettingsTarget::SetMidiThru(bool value) {
  FForm.SetMidiThru(value);
}

bool TPelrowSettingsTarget::ActiveSensing() const {
  return FForm.MidiInMenu ? FForm.MidiInMenu->ActiveSensing() : Checked("EnableActiveSensing1");
}

void TPelrowSettingsTarget::SetActiveSensing(bool value) {
  if (FForm.MidiInMenu)
    FForm.MidiInMenu->SetActiveSensing(value);
  SetChecked("EnableActiveSensing1", value);
}

bool TPelrowSettingsTarget::TimingClock() const {
  return FForm.MidiInMenu ? FForm.MidiInMenu->TimingClock() : Checked("EnableMidiTimeCode1");
}

void TPelrowSettingsTarget::SetTimingClock(bool value) {
  if (FForm.MidiInMenu)
    FForm.MidiInMenu->SetTimingClock(value);
  SetChecked("EnableMidiTimeCode1", value);
}

int TPelrowSettingsTarget::SendSpeed() const {
  return FForm.FSendSpeed;
}

void TPelrowSettingsTarget::SetSendSpeed(int value) {
  FForm.FSendSpeed = value;
}

int TPelrowSettingsTarget::MessageGap() const {
  return static_cast<int>(FForm.SendEngine().MessageGap());
}

void TPelrowSettingsTarget::SetMessageGap(int value) {
  FForm.SendEngine().SetMessageGap(static_cast<uint32_t>(std::max(value, 0)));
}

bool TPelrowSettingsTarget::SplitLongMessages() const {
  return FForm.SplitLongMessages();
}

void TPelrowSettingsTarget::SetSplitLongMessages(bool value) {
  FForm.SetSplitLongMessages(value);
}

std::string TPelrowSettingsTarget::BoxFontName() const {
  return pelrow::BoxFontName(*FForm.SXInput);
}

int TPelrowSettingsTarget::BoxFontSize() const {
  return pelrow::BoxFontSize(*FForm.SXInput);
}

void TPelrowSettingsTarget::SetBoxFont(const std::string& name, int pointSize) {
  SetBoxesFont(*FForm.SXInput, *FForm.SXOutput, name, pointSize);
}

bool TPelrowSettingsTarget::LogListsVisible() const {
  return FForm.LogListsVisible();
}

void TPelrowSettingsTarget::SetLogListsVisible(bool value) {
  FForm.SetLogListsVisible(value);
}

bool TPelrowSettingsTarget::SysExOnly() const {
  return FForm.SysExOnly();
}

void TPelrowSettingsTarget::SetSysExOnly(bool value) {
  FForm.SetSysExOnly(value);
}

bool TPelrowSettingsTarget::OneInstance() const {
  return FForm.OneInstance1() ? FForm.OneInstance1()->Active() : FOneInstance;
}

void TPelrowSettingsTarget::SetOneInstance(bool value) {
  FOneInstance = value;
  if (FForm.OneInstance1())
    FForm.OneInstance1()->SetActive(value);
}

} // namespace pelrow
