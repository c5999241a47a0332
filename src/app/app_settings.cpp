// The main window's options in the settings store.
#include "app/app_settings.h"

#include "support/product_info.h"
#include "support/reg_ini_file.h"
#include "support/registry_store.h"

#include <algorithm>

namespace pelrow {

namespace {
constexpr const char* SectionCurrent = "Current";
constexpr const char* SectionMidiDevices = "MidiDevices";

constexpr const char* ValueSplitterPos = "SplitterPos";
constexpr const char* ValueMidiThru = "MidiThru";
constexpr const char* ValueSendSpeed = "SendSpeed";
constexpr const char* ValueMessageGap = "MessageGap";
constexpr const char* ValueSplitLongMessages = "SplitLongMessages2";
constexpr const char* ValueSplitThreshold = "SplitLongMessagesThreshold";
constexpr const char* ValueFontName = "FontName";
constexpr const char* ValueFontSize = "FontSize";
constexpr const char* ValueLogListsHeight = "LogListsHeight";
constexpr const char* ValueShowLogLists = "ShowLogLists";
constexpr const char* ValueAllowMultipleInstances = "AllowMultipleInstances";
constexpr const char* ValueSysExOnly = "SysExOnly";

// True when path lies at or below key, compared as the store compares names.
bool IsAtOrBelow(const std::string& path, const std::string& key) {
  const std::vector<std::string> inner = SplitKeyPath(path);
  const std::vector<std::string> outer = SplitKeyPath(key);
  return inner.size() >= outer.size() &&
         std::equal(outer.begin(), outer.end(), inner.begin(),
                    [](const auto& a, const auto& b) { return FoldedName(a) == FoldedName(b); });
}

// The old settings go once the new place has them. A legacy section that is the
// program's own key (an executable named like the section) is not the old one.
void RemoveLegacySettings(TRegistryStore& store, const TSettingsKeys& keys) {
  const std::string legacy = keys.LegacyKey + "\\";
  if (keys.LegacyKey.empty() || !RegKeyExists(store, legacy + SectionCurrent))
    return;
  for (const char* section : {SectionCurrent, SectionMidiDevices}) {
    const std::string path = legacy + section;
    if (!IsAtOrBelow(keys.Key, path))
      RegDeleteKeyTree(store, path);
  }
}
} // namespace

TSettingsKeys ProgramSettingsKeys() {
  return {AppRegKey(), LegacyRegKey()};
}

TPlacementResult LoadAppSettings(TRegistryStore& store, const TSettingsKeys& keys,
                                 const TWindowPlacementState& window, const TRect& workArea,
                                 TAppSettings& settings) {
  TPlacementResult placement;
  placement.Bounds = window.Bounds;
  try {
    const bool useLegacy = !RegKeyExists(store, keys.Key) && !keys.LegacyKey.empty();
    const TRegIniFile ini(store, useLegacy ? keys.LegacyKey : keys.Key);
    placement = LoadPlacement(window, workArea, ini, SectionCurrent, plAll, {});

    TAppSettings& s = settings;
    s.SplitterPos = ini.ReadInteger(SectionCurrent, ValueSplitterPos, s.SplitterPos);
    s.MidiThru = ini.ReadBool(SectionCurrent, ValueMidiThru, s.MidiThru);
    s.SendSpeed = std::clamp(ini.ReadInteger(SectionCurrent, ValueSendSpeed, s.SendSpeed),
                             MinSendSpeed, MaxSendSpeed);
    s.MessageGap = std::clamp(ini.ReadInteger(SectionCurrent, ValueMessageGap, s.MessageGap),
                              MinMessageGap, MaxMessageGap);
    s.SplitLongMessages = ini.ReadBool(SectionCurrent, ValueSplitLongMessages, s.SplitLongMessages);
    s.SplitLongMessagesThreshold =
        ini.ReadInteger(SectionCurrent, ValueSplitThreshold, s.SplitLongMessagesThreshold);
    s.FontName = ini.ReadString(SectionCurrent, ValueFontName, s.FontName);
    s.FontSize = ini.ReadInteger(SectionCurrent, ValueFontSize, s.FontSize);
    s.LogListsHeight = ini.ReadInteger(SectionCurrent, ValueLogListsHeight, s.LogListsHeight);
    s.ShowLogLists = ini.ReadBool(SectionCurrent, ValueShowLogLists, s.ShowLogLists);
    s.AllowMultipleInstances =
        ini.ReadBool(SectionCurrent, ValueAllowMultipleInstances, s.AllowMultipleInstances);
    s.SysExOnly = ini.ReadBool(SectionCurrent, ValueSysExOnly, s.SysExOnly);
  } catch (...) {
    // What could be read stays in effect; the rest keeps its default.
  }
  return placement;
}

void SaveAppSettings(TRegistryStore& store, const TSettingsKeys& keys,
                     const TWindowPlacementState& window, const TRect& workArea,
                     const TAppSettings& settings, const TAppSettingsSavers& savers) {
  try {
    RemoveLegacySettings(store, keys);
    if (savers.SaveRecentFiles)
      savers.SaveRecentFiles();
    TRegIniFile ini(store, keys.Key);
    SavePlacement(window, workArea, ini, SectionCurrent, plAll, {});
    ini.WriteBool(SectionCurrent, ValueMidiThru, settings.MidiThru);
    ini.WriteInteger(SectionCurrent, ValueSendSpeed, settings.SendSpeed);
    ini.WriteInteger(SectionCurrent, ValueMessageGap, settings.MessageGap);
    ini.WriteInteger(SectionCurrent, ValueSplitterPos, settings.SplitterPos);
    if (savers.SaveDeviceMenus)
      savers.SaveDeviceMenus(ini);
    ini.WriteBool(SectionCurrent, ValueSplitLongMessages, settings.SplitLongMessages);
    ini.WriteInteger(SectionCurrent, ValueSplitThreshold, settings.SplitLongMessagesThreshold);
    ini.WriteString(SectionCurrent, ValueFontName, settings.FontName);
    ini.WriteInteger(SectionCurrent, ValueFontSize, settings.FontSize);
    ini.WriteBool(SectionCurrent, ValueShowLogLists, settings.ShowLogLists);
    ini.WriteInteger(SectionCurrent, ValueLogListsHeight, settings.LogListsHeight);
    ini.WriteBool(SectionCurrent, ValueAllowMultipleInstances, settings.AllowMultipleInstances);
    ini.WriteBool(SectionCurrent, ValueSysExOnly, settings.SysExOnly);
  } catch (...) {
    // The settings are kept for another try; nothing here is worth stopping a close.
  }
}

} // namespace pelrow
