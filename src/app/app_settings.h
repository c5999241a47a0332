// The main window's options as they are kept between runs, in the section
// "Current" of the settings store, together with the window's placement. The window
// fills the record from its live state, loads over it at start-up (a value that is
// not stored keeps what the record holds) and applies the result; at close it
// fills the record again and saves it. Store errors are not reported from here:
// the settings file's own errors come from the store when it is written.
#pragma once

#include "support/window_placement.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pelrow {

class TRegIniFile;
class TRegistryStore;

constexpr int32_t MinSendSpeed = -1000;
constexpr int32_t MaxSendSpeed = 1000;
// The pause after each System Exclusive message, in ms; older devices need up to a
// few hundred to store a message before they can take the next.
constexpr int32_t MinMessageGap = 0;
constexpr int32_t MaxMessageGap = 2000;

struct TAppSettings {
  int32_t SplitterPos = 241;
  bool MidiThru = false;
  int32_t SendSpeed = -500;
  int32_t MessageGap = 0;
  bool SplitLongMessages = false;
  int32_t SplitLongMessagesThreshold = 32;
  std::string FontName = "Terminal";
  int32_t FontSize = 8;
  int32_t LogListsHeight = 27;
  bool ShowLogLists = true;
  bool AllowMultipleInstances = true;
  bool SysExOnly = false;
};

// Where the settings live: the program's own key, and the key older versions used.
struct TSettingsKeys {
  std::string Key;       // such as "\Software\Narvell\Vesk's Pelrow\pelrow"
  std::string LegacyKey; // such as "\Software\Narvell\Vesk's Pelrow\"
};

// The program's keys, from the product information.
TSettingsKeys ProgramSettingsKeys();

// Reads the options and the placement; the legacy key is read while the program's
// own key does not exist. A failure ends the load quietly, keeping what was read.
TPlacementResult LoadAppSettings(TRegistryStore& store, const TSettingsKeys& keys,
                                 const TWindowPlacementState& window, const TRect& workArea,
                                 TAppSettings& settings);

struct TAppSettingsSavers {
  std::function<void()> SaveRecentFiles;             // its own key, before the options
  std::function<void(TRegIniFile&)> SaveDeviceMenus; // into the same view, in between
};

// Writes the options and the placement into the store's memory (the caller then
// saves the store and reports its error) and removes the legacy settings. A failure
// ends the save quietly.
void SaveAppSettings(TRegistryStore& store, const TSettingsKeys& keys,
                     const TWindowPlacementState& window, const TRect& workArea,
                     const TAppSettings& settings, const TAppSettingsSavers& savers = {});

} // namespace pelrow
