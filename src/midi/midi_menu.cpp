// The device menus: device lists, choice, persistence, hot-plug and loop refusal.
#include "midi/midi_menu.h"

#include "support/reg_ini_file.h"
#include "support/registry_store.h"
#include "support/trace.h"

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>

namespace pelrow {

namespace {
constexpr const char* TextNone = "none";
constexpr const char* TextNoneStored = "(none)";
constexpr const char* TextMidiMapper = "MIDI Mapper";
constexpr const char* TextInvalidDeviceId = "Invalid Device ID!";
constexpr const char* TextCouldNotOpen = "Error: %s could not be opened.";
constexpr const char* TextClosedBecause = "%s. %s";
constexpr const char* TextPortGone = "Its port has gone away.";

constexpr const char* TextClosingIn = "Closing MIDI IN: %s ...";
constexpr const char* TextClosedIn = "Closed MIDI IN: %s";
constexpr const char* TextOpenedIn = "Opened MIDI IN: %s";
constexpr const char* TextWaitingIn = "Waiting for MIDI IN %s to be plugged in or switched on.";
constexpr const char* TextDisconnectedIn =
    "MIDI IN %s was disconnected by another program; nothing "
    "will arrive until it is connected again.";
constexpr const char* TextClosingOut = "Closing MIDI OUT: %s ...";
constexpr const char* TextClosedOut = "Closed MIDI OUT: %s";
constexpr const char* TextOpenedOut = "Opened MIDI OUT: %s";
constexpr const char* TextWaitingOut = "Waiting for MIDI OUT %s to be plugged in or switched on.";

constexpr const char* ValueMidiIn = "MidiIn";
constexpr const char* ValueMidiOut = "MidiOut";
constexpr const char* ValueActiveSensing = "ActiveSensing";
constexpr const char* ValueTimingClock = "TimingClock";
constexpr const char* ValueSysExOnly = "SysExOnly";
constexpr const char* ValueDetectMidiLoop = "DetectMidiLoop";
constexpr const char* SoftwareKey = "\\Software\\";

constexpr const char* SeparatorCaption = "-";
constexpr int32_t SeparatorTag = -23;
constexpr const char* TraceIndent = "             - ";

// Port names of virtual cable drivers, whose input hears their own output, and
// last the ALSA through port, which does the same.
constexpr std::array<const char*, 10> VirtualPortPrefixes = {
    "LB1",           "LB2",    "LB3",           "LB4",   "MIDI Yoke Junction:",
    "MIDI Yoke NT:", "LoopBE", "Sonic Foundry", "Maple", "Midi Through"};

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size())
    return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}
} // namespace

bool IsVirtualPortName(const std::string& name) {
  return std::any_of(VirtualPortPrefixes.begin(), VirtualPortPrefixes.end(),
                     [&](const char* prefix) { return StartsWithIgnoringCase(name, prefix); });
}

bool TMidiMenuBase::WouldCreateFeedbackLoop(int direction, const std::string& name) {
  if (!IsVirtualPortName(name))
    return false;
  const int other = direction == MidiInputDirection ? MidiOutputDirection : MidiInputDirection;
  return OpenDeviceListContains(other, name);
}

// Shows the hourglass for its lifetime.
class TMidiMenuBase::TCursorScope {
public:
  explicit TCursorScope(const TMidiMenuBase& menu) : FCursor(menu.BusyCursor) {
    if (FCursor)
      FCursor(true);
  }
  ~TCursorScope() {
    if (FCursor)
      FCursor(false);
  }
  TCursorScope(const TCursorScope&) = delete;
  TCursorScope& operator=(const TCursorScope&) = delete;

private:
  TBusyCursor FCursor;
};

TMidiMenuBase::TMidiMenuBase(TTimerFactory timers) : FTimers(std::move(timers)) {
  SetFeedbackLoopTest(&TMidiMenuBase::WouldCreateFeedbackLoop);
}

// The items hold click handlers into this component; the menu may live on.
TMidiMenuBase::~TMidiMenuBase() {
  if (FBaseMenu != nullptr)
    ClearDynamicItems(*FBaseMenu);
}

void TMidiMenuBase::TextMessage(const char* pattern, const std::string& name) {
  if (OnTextMessage)
    OnTextMessage(*this, FormatText(pattern, name));
}

void TMidiMenuBase::ReportError(const std::string& message) {
  if (OnError)
    OnError(*this, message);
}

void TMidiMenuBase::TraceStep(const std::string& text) const {
  Trace(TraceIndent + GetRegValueName() + ": " + text);
}

// ---- choosing a device ---------------------------------------------------------------

bool TMidiMenuBase::CloseDevice() {
  if (!IsClosed()) {
    const std::string name = GetCurrentDeviceName();
    TextMessage(TextClosing(), name);
    if (OnBeforeClose)
      OnBeforeClose(*this);
    StopDevice();
    Device().Close();
    TextMessage(TextClosed(), name);
  }
  Device().SetDeviceID(NoDevice);
  return true;
}

void TMidiMenuBase::OpenDevice(int32_t id) {
  CloseDevice();
  Device().SetDeviceID(id);
  if (GetDeviceID() != id)
    throw std::runtime_error(TextInvalidDeviceId);
  Device().Open();
  if (IsClosed())
    throw std::runtime_error(FormatText(TextCouldNotOpen, GetCurrentDeviceName()));
  StartDevice();
  TextMessage(TextOpened(), GetCurrentDeviceName());
  if (OnAfterOpen)
    OnAfterOpen(*this);
}

void TMidiMenuBase::MenuItemClick(TMenuItem& item) {
  const int32_t tag = item.Tag;
  if (tag == GetDeviceID() && !ReopenOnClick())
    return;
  {
    TCursorScope cursor(*this);
    try {
      OpenDevice(tag);
      if (!IsClosed()) {
        FLateBindingName.clear();
        FReconnectName.clear();
      }
    } catch (const std::exception& error) {
      ReportError(error.what());
      try {
        CloseDevice();
      } catch (const std::exception& closeError) {
        ReportError(closeError.what());
      }
    }
  }
  UpdateChecks();
}

void TMidiMenuBase::NoneItemClick(TMenuItem&) {
  // The user has chosen: a device lost earlier is no longer wanted back. A wish
  // from the settings stays until a device is opened.
  FReconnectName.clear();
  CloseWithCursor();
}

void TMidiMenuBase::CloseWithCursor() {
  {
    TCursorScope cursor(*this);
    try {
      CloseDevice();
    } catch (const std::exception& error) {
      ReportError(error.what());
    }
  }
  UpdateChecks();
}

// ---- the menu items ------------------------------------------------------------------

void TMidiMenuBase::UpdateChecks() {
  if (FBaseMenu == nullptr)
    return;
  TMenuModel::TUpdate update(*FBaseMenu);
  const int32_t current = IsClosed() ? NoDevice : GetDeviceID();
  for (std::size_t i = 0; i < FBaseMenu->Count(); ++i) {
    const TMenuItem& item = FBaseMenu->Item(i);
    FBaseMenu->SetChecked(i, item.Visible && item.OnClick && item.Tag == current);
  }
}

std::ptrdiff_t TMidiMenuBase::FindItemByTag(int32_t tag) const {
  if (FBaseMenu == nullptr)
    return -1;
  for (std::size_t i = 0; i < FBaseMenu->Count(); ++i) {
    const TMenuItem& item = FBaseMenu->Item(i);
    if (item.Visible && item.OnClick && item.Tag == tag)
      return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

TMenuItem& TMidiMenuBase::AddDeviceItem(const std::string& caption, int32_t tag) {
  TMenuItem item;
  item.Caption = caption;
  item.Tag = tag;
  item.OnClick = [this](TMenuItem& sender) { MenuItemClick(sender); };
  return FBaseMenu->Add(std::move(item));
}

void TMidiMenuBase::AddNoneItem() {
  if (FindItemByTag(NoDevice) >= 0)
    return;
  if (FBaseMenu->Count() > 0) {
    TMenuItem separator;
    separator.Caption = SeparatorCaption;
    separator.Tag = SeparatorTag;
    FBaseMenu->Insert(0, std::move(separator));
  }
  TMenuItem none;
  none.Caption = TextNone;
  none.Tag = NoDevice;
  none.OnClick = [this](TMenuItem& sender) { NoneItemClick(sender); };
  FBaseMenu->Insert(0, std::move(none));
}

// Items the window put there itself are invisible and stay.
void TMidiMenuBase::ClearDynamicItems(TMenuModel& menu) {
  TMenuModel::TUpdate update(menu);
  for (std::size_t i = menu.Count(); i-- > 0;)
    if (menu.Item(i).Visible)
      menu.Remove(i);
}

void TMidiMenuBase::SetBaseMenu(TMenuModel* menu) {
  if (menu == FBaseMenu)
    return;
  if (menu != nullptr)
    ClearDynamicItems(*menu);
  if (FBaseMenu != nullptr) {
    TMenuModel::TUpdate update(*FBaseMenu);
    for (std::size_t i = 0; i < FBaseMenu->Count();) {
      if (!FBaseMenu->Item(i).Visible) {
        ++i;
        continue;
      }
      std::unique_ptr<TMenuItem> item = FBaseMenu->Take(i);
      if (menu != nullptr)
        menu->Insert(-1, std::move(item));
    }
  }
  FBaseMenu = menu;
  RefreshDeviceList(true, true);
}

// ---- following the platform's devices ----------------------------------------------

// The device items shown equal the list, in order: nothing to rebuild.
bool TMidiMenuBase::ListUnchanged(const TDeviceList& list) const {
  std::size_t next = 0;
  for (std::size_t i = 0; i < FBaseMenu->Count(); ++i) {
    const TMenuItem& item = FBaseMenu->Item(i);
    if (!item.Visible || !item.OnClick || item.Tag == NoDevice)
      continue;
    if (next == list.size() || list[next].Index != item.Tag || list[next].Name != item.Caption)
      return false;
    ++next;
  }
  return next == list.size();
}

void TMidiMenuBase::ArmNewDeviceTimer() {
  TraceStep("starting timer.");
  if (FNewDeviceTimer == nullptr && FTimers) {
    FNewDeviceTimer = FTimers();
    if (FNewDeviceTimer != nullptr)
      FNewDeviceTimer->OnTimer = [this](TTimer&) { NewDeviceTimerExpired(); };
  }
  if (FNewDeviceTimer == nullptr)
    return;
  // Every notice restarts the full ten seconds.
  FNewDeviceTimer->Stop();
  FNewDeviceTimer->Start(NewDeviceInterval);
}

void TMidiMenuBase::NewDeviceTimerExpired() {
  TraceStep("New Device Timer expired.");
  if (FNewDeviceTimer != nullptr)
    FNewDeviceTimer->Stop();
  RefreshDeviceList(false, false);
}

void TMidiMenuBase::DropLostDevice() {
  const std::string name = GetCurrentDeviceName();
  // The port is gone, so nothing is reset on the platform; everything held for it
  // is released all the same.
  Device().ValidateOpenDevice();
  if (!IsClosed())
    Device().Close();
  FReconnectName = name;
  if (OnTextMessage) {
    const std::string reason = Device().UnreachableText();
    OnTextMessage(*this, FormatText(TextClosedBecause, FormatText(TextClosed(), name),
                                    reason.empty() ? std::string(TextPortGone) : reason));
  }
}

// The platform lists a port that went away by dropping it, so every later index
// moves up by one. An open device whose index merely moved is found again by its
// name and keeps its connection; only one whose name has gone is let go.
void TMidiMenuBase::FollowOpenDevice(const TDeviceList& list) {
  if (IsClosed() || GetDeviceID() == MidiMapper)
    return;
  const std::string name = GetCurrentDeviceName();
  if (SameDeviceName(Device().GetDeviceName(GetDeviceID()), name))
    return;
  for (const TDeviceListEntry& entry : list)
    if (entry.Index >= 0 && entry.Name == name && Device().MoveOpenDevice(entry.Index)) {
      TraceStep("open device " + name + " moved to index " + std::to_string(entry.Index));
      return;
    }
  DropLostDevice();
}

// The menu is rebuilt when the device list changed: the open device is found again
// by name, a wanted device that appeared is opened, and "none" is checked when no
// device is open. A notice that changed nothing re-checks once ten seconds later,
// since a device can take that long to show all its ports.
void TMidiMenuBase::RefreshDeviceList(bool force, bool startTimer) {
  if (FBaseMenu == nullptr)
    return;
  const std::string key = GetRegValueName();
  Trace("Refresh " + key + " device list:");
  const int count = Device().GetNumDevs();
  TDeviceList list;
  Device().FillDeviceList(list);
  // Counting alone misses one device leaving while another arrives.
  if (!force && count == FLastDeviceCount && ListUnchanged(list)) {
    TraceStep("no change in number of devices.");
    if (startTimer)
      ArmNewDeviceTimer();
    return;
  }
  FLastDeviceCount = count;
  TraceStep("now " + std::to_string(count) + " devices.");

  TraceStep("checking if device still valid");
  FollowOpenDevice(list);
  const std::string openName = IsClosed() ? std::string() : GetCurrentDeviceName();
  const std::string& wanted = FLateBindingName.empty() ? FReconnectName : FLateBindingName;

  TMenuModel::TUpdate update(*FBaseMenu);
  bool identified = false;
  TMenuItem* lateItem = nullptr;
  ClearDynamicItems(*FBaseMenu);
  for (const TDeviceListEntry& entry : list) {
    TMenuItem& item = AddDeviceItem(entry.Name, entry.Index);
    if (!openName.empty()) {
      if (entry.Index == GetDeviceID() && SameDeviceName(entry.Name, openName)) {
        TraceStep("identified open device " + entry.Name);
        identified = true;
      }
    } else if (!wanted.empty() && SameDeviceName(entry.Name, wanted)) {
      TraceStep("identified late binding device " + entry.Name);
      lateItem = &item;
    }
  }
  AddNoneItem();
  if (lateItem != nullptr) {
    MenuItemClick(*lateItem);
    identified = identified || !IsClosed();
  }
  if (!identified) {
    TraceStep("no open device could be identified. Closing.");
    try {
      CloseDevice();
    } catch (const std::exception& error) {
      ReportError(error.what());
    }
    TraceStep("Closed.");
  }
  UpdateChecks();
  TraceStep("devs: now " + std::to_string(list.size()) + " devices.");
}

// ---- settings ------------------------------------------------------------------------

void TMidiMenuBase::LoadFromRegistry() {
  if (RegPath.empty() || RegPath == PlaceholderRegPath || FRegistry == nullptr)
    return;
  try {
    std::string path = SoftwareKey + RegPath;
    if (!FRegistry->KeyExists(path + "\\" + RegKey) && !LegacyRegPath.empty() &&
        FRegistry->KeyExists(SoftwareKey + LegacyRegPath + "\\" + RegKey))
      path = SoftwareKey + LegacyRegPath;
    TRegIniFile settings(*FRegistry, path);
    LoadSettings(settings);
  } catch (...) {
    // A store that cannot be read leaves the device closed, and says nothing.
  }
}

void TMidiMenuBase::LoadSettings(TRegIniFile& settings) {
  // Read before anything opens, so that a stored loop guard protects the start too.
  Device().SetDetectMidiLoop(
      settings.ReadBool(RegKey, ValueDetectMidiLoop, Device().DetectMidiLoop()));
  CloseDevice();
  FReconnectName.clear();
  const std::string name = settings.ReadString(RegKey, GetRegValueName(), {});
  if (FBaseMenu != nullptr && !name.empty() && name != TextNoneStored && name != TextMidiMapper) {
    for (std::size_t i = 0; i < FBaseMenu->Count(); ++i) {
      TMenuItem& item = FBaseMenu->Item(i);
      if (item.Visible && item.OnClick && item.Tag != NoDevice &&
          SameDeviceName(item.Caption, name)) {
        MenuItemClick(item);
        break;
      }
    }
  } else if ((name.empty() && DefaultMidiMapper) || name == TextMidiMapper) {
    if (const std::ptrdiff_t mapper = FindItemByTag(MidiMapper); mapper >= 0)
      MenuItemClick(FBaseMenu->Item(static_cast<std::size_t>(mapper)));
  }
  if (IsClosed() && name != TextNoneStored)
    FLateBindingName = name;
  if (!FLateBindingName.empty())
    TextMessage(TextWaiting(), FLateBindingName);
}

void TMidiMenuBase::SaveSettings(TRegIniFile& settings) {
  std::string value;
  if (IsClosed())
    value = FLateBindingName.empty() ? TextNoneStored : FLateBindingName;
  else if (GetDeviceID() == MidiMapper)
    value = TextMidiMapper;
  else
    value = GetCurrentDeviceName();
  settings.WriteString(RegKey, GetRegValueName(), value);
  // Switched on only by hand in the store: the program never writes it as on.
  if (!Device().DetectMidiLoop())
    settings.WriteBool(RegKey, ValueDetectMidiLoop, false);
}

// ---- input menu ----------------------------------------------------------------------

TMidiInMenu::TMidiInMenu(TMidiService& service, TUiPoster& poster, TTimerFactory timers)
    : TMidiMenuBase(std::move(timers)), FInput(service, poster) {
  FInput.SetActiveSensing(FActiveSensing);
  FInput.SetTimingClock(FTimingClock);
  FInput.SetSysExOnly(FSysExOnly);
  FInput.OnDisconnected = [this](TMidiInput&) { InputDisconnected(); };
}

// The input stays open and checked: the port is still ours, a patchbay may connect
// it again (and a source that comes back under its name is connected again by the
// backend), and closing it would lose that. The error says that nothing arrives
// meanwhile; clicking the device again opens it afresh.
void TMidiInMenu::InputDisconnected() {
  FSourceLost = true;
  ReportError(FormatText(TextDisconnectedIn, GetCurrentDeviceName()));
}

void TMidiInMenu::OpenDevice(int32_t id) {
  FSourceLost = false;
  TMidiMenuBase::OpenDevice(id);
}

bool TMidiInMenu::ReopenOnClick() const {
  return FSourceLost;
}

TMidiInMenu::~TMidiInMenu() = default;

std::string TMidiInMenu::GetRegValueName() const {
  return ValueMidiIn;
}

void TMidiInMenu::SetActiveSensing(bool value) {
  FActiveSensing = value;
  FInput.SetActiveSensing(value);
}

void TMidiInMenu::SetTimingClock(bool value) {
  FTimingClock = value;
  FInput.SetTimingClock(value);
}

void TMidiInMenu::SetSysExOnly(bool value) {
  FSysExOnly = value;
  FInput.SetSysExOnly(value);
}

void TMidiInMenu::LoadSettings(TRegIniFile& settings) {
  TMidiMenuBase::LoadSettings(settings);
  SetActiveSensing(settings.ReadBool(RegKey, ValueActiveSensing, FActiveSensing));
  SetTimingClock(settings.ReadBool(RegKey, ValueTimingClock, FTimingClock));
  SetSysExOnly(settings.ReadBool(RegKey, ValueSysExOnly, FSysExOnly));
}

void TMidiInMenu::SaveSettings(TRegIniFile& settings) {
  TMidiMenuBase::SaveSettings(settings);
  settings.WriteBool(RegKey, ValueActiveSensing, FActiveSensing);
  settings.WriteBool(RegKey, ValueTimingClock, FTimingClock);
  settings.WriteBool(RegKey, ValueSysExOnly, FSysExOnly);
}

const char* TMidiInMenu::TextClosing() const {
  return TextClosingIn;
}
const char* TMidiInMenu::TextClosed() const {
  return TextClosedIn;
}
const char* TMidiInMenu::TextOpened() const {
  return TextOpenedIn;
}
const char* TMidiInMenu::TextWaiting() const {
  return TextWaitingIn;
}

// ---- output menu ---------------------------------------------------------------------

TMidiOutMenu::TMidiOutMenu(TMidiService& service, TTimerFactory timers)
    : TMidiMenuBase(std::move(timers)), FOutput(service) {}

TMidiOutMenu::~TMidiOutMenu() = default;

std::string TMidiOutMenu::GetRegValueName() const {
  return ValueMidiOut;
}

void TMidiOutMenu::OpenDevice(int32_t id) {
  TMidiMenuBase::OpenDevice(id);
  FMapperTarget = id == MidiMapper ? FOutput.GetDeviceName(0) : std::string();
}

// The mapper entry stays while outputs exist and moves along when another device
// becomes the first one.
void TMidiOutMenu::FollowOpenDevice(const TDeviceList& list) {
  if (IsClosed() || GetDeviceID() != MidiMapper) {
    TMidiMenuBase::FollowOpenDevice(list);
    return;
  }
  if (list.empty()) {
    DropLostDevice();
    return;
  }
  if (FOutput.GetDeviceName(0) == FMapperTarget)
    return;
  try {
    OpenDevice(MidiMapper);
  } catch (const std::exception& error) {
    ReportError(error.what());
  }
}

const char* TMidiOutMenu::TextClosing() const {
  return TextClosingOut;
}
const char* TMidiOutMenu::TextClosed() const {
  return TextClosedOut;
}
const char* TMidiOutMenu::TextOpened() const {
  return TextOpenedOut;
}
const char* TMidiOutMenu::TextWaiting() const {
  return TextWaitingOut;
}

} // namespace pelrow
