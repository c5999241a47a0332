// The "Midi In" and "Midi Out" menus: each lists the platform's devices under
// "none", opens the device the user clicks, reports what it did through text
// events, follows devices that come and go, and keeps the choice (and the input's
// receive filters) in the settings store so that the next start reopens the same
// device by name. A device that is wanted but absent is opened by itself when it
// appears. The menus also refuse to open both ends of one virtual loopback cable.
#pragma once

#include "midi/menu_model.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "support/clock.h"

#include <functional>
#include <memory>
#include <string>

namespace pelrow {

class TRegIniFile;
class TRegistryStore;

// True for the ports of virtual cable drivers and the ALSA through port, whose
// input hears what goes out on the output of the same name.
bool IsVirtualPortName(const std::string& name);

class TMidiMenuBase {
public:
  using TNotifyEvent = std::function<void(TMidiMenuBase& sender)>;
  using TMidiStringEvent = std::function<void(TMidiMenuBase& sender, const std::string& err)>;
  // Shows the hourglass (true) and takes it back (false); calls come in pairs.
  using TBusyCursor = std::function<void(bool busy)>;

  static constexpr const char* DefaultRegKey = "MidiDevices";
  static constexpr const char* PlaceholderRegPath = "Company\\Program Name";
  static constexpr uint32_t NewDeviceInterval = 10000;

  virtual ~TMidiMenuBase();
  TMidiMenuBase(const TMidiMenuBase&) = delete;
  TMidiMenuBase& operator=(const TMidiMenuBase&) = delete;

  TMenuModel* BaseMenu() const { return FBaseMenu; }
  // Moves the items this component made into menu and builds the device list there.
  void SetBaseMenu(TMenuModel* menu);

  std::string RegKey = DefaultRegKey;
  // Below "\Software\" of the user's store; the placeholder means "not configured".
  std::string RegPath = PlaceholderRegPath;
  // Where older versions kept the choice (same form as RegPath); read only while
  // RegPath holds nothing yet. Empty: no such place.
  std::string LegacyRegPath;
  bool DefaultMidiMapper = false;

  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnBeforeClose;
  TMidiStringEvent OnError;
  TMidiStringEvent OnTextMessage;
  TBusyCursor BusyCursor;

  // The store that LoadFromRegistry reads; nothing is loaded without one.
  void SetRegistry(TRegistryStore* store) { FRegistry = store; }

  virtual TMidiDeviceBase& Device() = 0;
  const TMidiDeviceBase& Device() const { return const_cast<TMidiMenuBase*>(this)->Device(); }
  int32_t GetDeviceID() const { return Device().DeviceID(); }
  const std::string& GetCurrentDeviceName() const { return Device().DeviceName(); }
  bool IsClosed() const { return Device().IsClosed(); }
  virtual std::string GetRegValueName() const = 0;

  // Closes the open device with its texts and chooses no device. True.
  bool CloseDevice();
  // Closes the current device and opens id; raises on failure.
  virtual void OpenDevice(int32_t id);

  void MenuItemClick(TMenuItem& item);
  void NoneItemClick(TMenuItem& item);
  // Closes the device with the hourglass shown; failures go to OnError.
  void CloseWithCursor();

  // Brings the menu in step with the platform's devices (see the .cpp).
  void RefreshDeviceList(bool force, bool startTimer);
  void NewDeviceTimerExpired();

  void LoadFromRegistry();
  virtual void LoadSettings(TRegIniFile& settings);
  virtual void SaveSettings(TRegIniFile& settings);

  int32_t LastDeviceCount() const { return FLastDeviceCount; }
  const std::string& LateBindingName() const { return FLateBindingName; }
  // A device lost while open, opened again when its name comes back this session.
  const std::string& ReconnectName() const { return FReconnectName; }

  // The loop test the device layer runs when a device opens.
  static bool WouldCreateFeedbackLoop(int direction, const std::string& name);

protected:
  TMidiMenuBase(TTimerFactory timers);

  // Sends text formatted with name to OnTextMessage, if assigned.
  void TextMessage(const char* pattern, const std::string& name);
  void ReportError(const std::string& message);
  // The "Closing", "Closed", "Opened" and "Waiting" texts of this direction.
  virtual const char* TextClosing() const = 0;
  virtual const char* TextClosed() const = 0;
  virtual const char* TextOpened() const = 0;
  virtual const char* TextWaiting() const = 0;
  // The input starts after opening and stops before closing.
  // Clicking the open device opens it again (its connection was lost).
  virtual bool ReopenOnClick() const { return false; }
  virtual void StartDevice() {}
  virtual void StopDevice() {}
  // Keeps an open device open while its port exists (see the .cpp).
  virtual void FollowOpenDevice(const TDeviceList& list);
  // Lets go of an open device whose port has gone and remembers it for this session.
  void DropLostDevice();

private:
  class TCursorScope;

  void UpdateChecks();
  std::ptrdiff_t FindItemByTag(int32_t tag) const;
  TMenuItem& AddDeviceItem(const std::string& caption, int32_t tag);
  void AddNoneItem();
  static void ClearDynamicItems(TMenuModel& menu);
  bool ListUnchanged(const TDeviceList& list) const;
  void ArmNewDeviceTimer();
  void TraceStep(const std::string& text) const;

  TMenuModel* FBaseMenu = nullptr;
  TRegistryStore* FRegistry = nullptr;
  TTimerFactory FTimers;
  std::unique_ptr<TTimer> FNewDeviceTimer;
  int32_t FLastDeviceCount = -1;
  std::string FLateBindingName;
  std::string FReconnectName;
};

class TMidiInMenu final : public TMidiMenuBase {
public:
  TMidiInMenu(TMidiService& service, TUiPoster& poster, TTimerFactory timers = {});
  ~TMidiInMenu() override;

  TMidiDeviceBase& Device() override { return FInput; }
  TMidiInput& Input() { return FInput; }
  std::string GetRegValueName() const override;

  void SetOnMidiData(TMidiInput::TNotifyEvent event) { FInput.OnMidiData = std::move(event); }
  const TMidiInput::TNotifyEvent& GetOnMidiData() const { return FInput.OnMidiData; }

  bool ActiveSensing() const { return FActiveSensing; }
  bool TimingClock() const { return FTimingClock; }
  bool SysExOnly() const { return FSysExOnly; }
  void SetActiveSensing(bool value);
  void SetTimingClock(bool value);
  void SetSysExOnly(bool value);
  // The open input's connection was removed from outside since it was opened.
  bool SourceLost() const { return FSourceLost; }

  void OpenDevice(int32_t id) override;
  void LoadSettings(TRegIniFile& settings) override;
  void SaveSettings(TRegIniFile& settings) override;

protected:
  void StartDevice() override { FInput.Start(); }
  void StopDevice() override { FInput.Stop(); }
  const char* TextClosing() const override;
  const char* TextClosed() const override;
  const char* TextOpened() const override;
  const char* TextWaiting() const override;
  bool ReopenOnClick() const override;

private:
  void InputDisconnected();

  TMidiInput FInput;
  bool FActiveSensing = false;
  bool FTimingClock = false;
  bool FSysExOnly = false;
  bool FSourceLost = false;
};

// On Linux there is no system mapper: "MIDI Mapper" opens the first output device
// and follows whichever device is first.
class TMidiOutMenu final : public TMidiMenuBase {
public:
  explicit TMidiOutMenu(TMidiService& service, TTimerFactory timers = {});
  ~TMidiOutMenu() override;

  TMidiDeviceBase& Device() override { return FOutput; }
  TMidiOutput& Output() { return FOutput; }
  std::string GetRegValueName() const override;

  void OpenDevice(int32_t id) override;

protected:
  const char* TextClosing() const override;
  const char* TextClosed() const override;
  const char* TextOpened() const override;
  const char* TextWaiting() const override;
  void FollowOpenDevice(const TDeviceList& list) override;

private:
  TMidiOutput FOutput;
  // The device behind an open mapper entry.
  std::string FMapperTarget;
};

} // namespace pelrow
