// The main window's live options as the Settings dialog and the stored settings see
// them: menu check marks, the input device's filters, the send speed, the boxes'
// font, the log lists and the single-instance choice.
#pragma once

#include "app/settings_target.h"

namespace pelrow {

class TPelrowForm;

class TPelrowSettingsTarget final : public TSettingsTarget {
public:
  explicit TPelrowSettingsTarget(TPelrowForm& form) : FForm(form) {}

  bool MidiThru() const override;
  void SetMidiThru(bool value) override;
  bool ActiveSensing() const override;
  void SetActiveSensing(bool value) override;
  bool TimingClock() const override;
  void SetTimingClock(bool value) override;
  int SendSpeed() const override;
  void SetSendSpeed(int value) override;
  int MessageGap() const override;
  void SetMessageGap(int value) override;
  bool SplitLongMessages() const override;
  void SetSplitLongMessages(bool value) override;
  std::string BoxFontName() const override;
  int BoxFontSize() const override;
  void SetBoxFont(const std::string& name, int pointSize) override;
  bool LogListsVisible() const override;
  void SetLogListsVisible(bool value) override;
  bool SysExOnly() const override;
  void SetSysExOnly(bool value) override;
  bool OneInstance() const override;
  void SetOneInstance(bool value) override;

private:
  bool Checked(const char* item) const;
  void SetChecked(const char* item, bool value);

  TPelrowForm& FForm;
  // Where the window runs without a single-instance guard (tests), the choice is
  // kept here so that it still reaches the settings.
  bool FOneInstance = false;
};

} // namespace pelrow
