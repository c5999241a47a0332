#include "app/app_settings.h"

#include "support/reg_ini_file.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <utility>

namespace pelrow {
namespace {

const TSettingsKeys kKeys{"\\Software\\Narvell\\Vesk's Pelrow\\pelrow",
                          "\\Software\\Narvell\\Vesk's Pelrow\\"};
const std::string kCurrent = kKeys.Key + "\\Current";
const std::string kLegacyCurrent = kKeys.LegacyKey + "Current";
const std::string kLegacyDevices = kKeys.LegacyKey + "MidiDevices";
const TRect kWorkArea{0, 0, 1280, 1000};

class AppSettings : public ::testing::Test {
protected:
  TWindowPlacementState Window() const {
    TWindowPlacementState window;
    window.Bounds = {0, 0, 600, 400};
    return window;
  }
  TPlacementResult Load(TAppSettings& settings) {
    return LoadAppSettings(FStore, kKeys, Window(), kWorkArea, settings);
  }
  void Save(const TAppSettings& settings, const TAppSettingsSavers& savers = {}) {
    SaveAppSettings(FStore, kKeys, Window(), kWorkArea, settings, savers);
  }

  TScratchFolder FFolder;
  TRegistryStore FStore{FFolder.Path("registry")};
};

TEST_F(AppSettings, FirstRunKeepsTheDefaultsAndCentresTheWindow) {
  TAppSettings settings;
  const TPlacementResult placement = Load(settings);
  EXPECT_EQ(settings.SendSpeed, -500);
  EXPECT_EQ(settings.SplitLongMessagesThreshold, 32);
  EXPECT_FALSE(settings.SplitLongMessages);
  EXPECT_FALSE(settings.MidiThru);
  EXPECT_TRUE(settings.ShowLogLists);
  EXPECT_TRUE(settings.AllowMultipleInstances);
  EXPECT_FALSE(settings.SysExOnly);
  EXPECT_EQ(settings.FontName, "Terminal");
  EXPECT_EQ(placement.Bounds, (TRect{340, 300, 600, 400}));
}

TEST_F(AppSettings, RoundTripWritesBooleansAsTextAndClampsTheSpeed) {
  TAppSettings saved;
  saved.MidiThru = true;
  saved.SendSpeed = 250;
  saved.FontName = "DejaVu Sans Mono";
  saved.FontSize = 11;
  saved.ShowLogLists = false;
  saved.SplitLongMessagesThreshold = -4;
  bool menusWrote = false;
  Save(saved, {{}, [&](TRegIniFile& ini) {
                 menusWrote = true;
                 EXPECT_EQ(ini.BasePath(), kKeys.Key);
               }});
  EXPECT_TRUE(menusWrote);
  EXPECT_EQ(FStore.ReadValue(kCurrent, "MidiThru"), TRegValue::FromText("1"));
  EXPECT_EQ(FStore.ReadValue(kCurrent, "ShowLogLists"), TRegValue::FromText("0"));
  EXPECT_EQ(FStore.ReadValue(kCurrent, "SendSpeed"), TRegValue::FromInteger(250));

  TAppSettings loaded;
  Load(loaded);
  EXPECT_TRUE(loaded.MidiThru);
  EXPECT_EQ(loaded.SendSpeed, 250);
  EXPECT_EQ(loaded.FontName, "DejaVu Sans Mono");
  EXPECT_EQ(loaded.FontSize, 11);
  EXPECT_FALSE(loaded.ShowLogLists);
  EXPECT_EQ(loaded.SplitLongMessagesThreshold, -4);

  FStore.WriteValue(kCurrent, "SendSpeed", TRegValue::FromInteger(5000));
  Load(loaded);
  EXPECT_EQ(loaded.SendSpeed, 1000);
  FStore.WriteValue(kCurrent, "SendSpeed", TRegValue::FromText("-5000"));
  Load(loaded);
  EXPECT_EQ(loaded.SendSpeed, -1000);

  // The pause after each message stays within what the dialog offers.
  const std::pair<int, int> gaps[] = {{5000, 2000}, {-3, 0}, {250, 250}};
  for (const auto& [stored, expected] : gaps) {
    FStore.WriteValue(kCurrent, "MessageGap", TRegValue::FromInteger(stored));
    Load(loaded);
    EXPECT_EQ(loaded.MessageGap, expected) << stored;
  }
}

TEST_F(AppSettings, LegacySettingsAreReadUntilTheFirstSaveMovesThem) {
  FStore.WriteValue(kLegacyCurrent, "SendSpeed", TRegValue::FromInteger(300));
  FStore.WriteValue(kLegacyCurrent, "MidiThru", TRegValue::FromText("1"));
  FStore.WriteValue(kLegacyDevices, "MidiIn", TRegValue::FromText("Synth A"));
  TAppSettings settings;
  Load(settings);
  EXPECT_EQ(settings.SendSpeed, 300);
  EXPECT_TRUE(settings.MidiThru);

  Save(settings);
  EXPECT_FALSE(FStore.KeyExists(kLegacyCurrent));
  EXPECT_FALSE(FStore.KeyExists(kLegacyDevices));
  EXPECT_EQ(FStore.ReadValue(kCurrent, "SendSpeed"), TRegValue::FromInteger(300));
  ASSERT_TRUE(FStore.Save());

  TRegistryStore reread(FFolder.Path("registry"));
  ASSERT_TRUE(reread.Load());
  TAppSettings again;
  LoadAppSettings(reread, kKeys, Window(), kWorkArea, again);
  EXPECT_EQ(again.SendSpeed, 300);
  EXPECT_TRUE(again.MidiThru);
}

TEST_F(AppSettings, AnExecutableNamedLikeALegacySectionKeepsItsOwnSettings) {
  const TSettingsKeys keys{kKeys.LegacyKey + "Current", kKeys.LegacyKey};
  FStore.WriteValue(kLegacyCurrent + "\\Current", "SendSpeed", TRegValue::FromInteger(125));
  TAppSettings settings;
  LoadAppSettings(FStore, keys, Window(), kWorkArea, settings);
  SaveAppSettings(FStore, keys, Window(), kWorkArea, settings);
  EXPECT_EQ(FStore.ReadValue(kLegacyCurrent + "\\Current", "SendSpeed"),
            TRegValue::FromInteger(125));
}

// Two copies of the program share one file: a copy that closes later must not put
// back the values it merely read.
TEST_F(AppSettings, SavingLeavesAloneWhatAnotherCopyChanged) {
  TAppSettings first;
  Save(first);
  ASSERT_TRUE(FStore.Save());

  TRegistryStore earlier(FFolder.Path("registry"));
  TRegistryStore later(FFolder.Path("registry"));
  ASSERT_TRUE(earlier.Load());
  ASSERT_TRUE(later.Load());
  TAppSettings a, b;
  LoadAppSettings(earlier, kKeys, Window(), kWorkArea, a);
  LoadAppSettings(later, kKeys, Window(), kWorkArea, b);

  a.MidiThru = true;
  SaveAppSettings(earlier, kKeys, Window(), kWorkArea, a);
  ASSERT_TRUE(earlier.Save());
  b.SendSpeed = 750;
  SaveAppSettings(later, kKeys, Window(), kWorkArea, b);
  ASSERT_TRUE(later.Save());

  TRegistryStore result(FFolder.Path("registry"));
  ASSERT_TRUE(result.Load());
  TAppSettings merged;
  LoadAppSettings(result, kKeys, Window(), kWorkArea, merged);
  EXPECT_TRUE(merged.MidiThru);
  EXPECT_EQ(merged.SendSpeed, 750);
}

} // namespace
} // namespace pelrow
