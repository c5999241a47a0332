#include "support/window_placement.h"

#include "support/reg_ini_file.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <climits>

namespace pelrow {
namespace {

constexpr const char* kBase = "\\Software\\Narvell\\Vesk's Pelrow\\pelrow";

// A 1920 x 1050 screen with a 30-pixel panel at the top.
const TRect kWorkArea{0, 30, 1920, 1050};

class WindowPlacement : public ::testing::Test {
protected:
  TWindowPlacementState Window(TRect bounds) {
    TWindowPlacementState window;
    window.Bounds = bounds;
    return window;
  }
  TPlacementResult Load(const TWindowPlacementState& window, const TRect& area = kWorkArea) {
    return LoadPlacement(window, area, FIni, "Current", plAll, {});
  }
  void Store(const char* ident, int32_t value) { FIni.WriteInteger("Current", ident, value); }

  TScratchFolder FFolder;
  TRegistryStore FStore{FFolder.Path("registry")};
  TRegIniFile FIni{FStore, kBase};
};

TEST_F(WindowPlacement, FirstStartKeepsTheDesignedSizeCentredOnTheWorkArea) {
  const TPlacementResult result = Load(Window({0, 0, 700, 501}));
  EXPECT_EQ(result.Bounds, (TRect{610, 30 + 525 - 250, 700, 501}));
  EXPECT_FALSE(result.ShowState.has_value());
  EXPECT_EQ(result.Visible, true);

  // Centred on a visible owner instead, still inside the area.
  TWindowPlacementState dialog = Window({0, 0, 400, 300});
  dialog.IsMainWindow = false;
  dialog.Owner = TRect{-500, 100, 200, 200};
  const TPlacementResult placed = Load(dialog);
  EXPECT_EQ(placed.Bounds.Left, -370);
  EXPECT_EQ(placed.Bounds.Top, 50);
  EXPECT_EQ(placed.Visible, false);
}

TEST_F(WindowPlacement, PositionsAreRelativeToTheWorkAreaAndComeBackThere) {
  TWindowPlacementState window = Window({100, 80, 640, 480});
  SavePlacement(window, kWorkArea, FIni, "Current", plAll, {});
  EXPECT_EQ(FIni.ReadInteger("Current", "Top", 0), 50);
  EXPECT_EQ(FIni.ReadString("Current", "Visible", ""), "1");

  // The panel moved to the left: the window keeps its place beside it.
  const TRect leftPanel{64, 0, 1856, 1080};
  EXPECT_EQ(Load(window, leftPanel).Bounds, (TRect{164, 50, 640, 480}));
}

TEST_F(WindowPlacement, WindowsFromARemovedMonitorComeBackIntoTheWorkArea) {
  const TWindowPlacementState window = Window({0, 0, 640, 480});
  Store("Left", 3000);
  Store("Top", 2000);
  EXPECT_EQ(Load(window).Bounds, (TRect{1919 - 30, 1079 - 30, 640, 480}));

  Store("Left", -3000);
  Store("Top", -500);
  EXPECT_EQ(Load(window).Bounds, (TRect{-640 + 30, 30, 640, 480}));

  // Just inside the right edge is not enough to grab the window.
  Store("Left", 1915);
  Store("Top", 100);
  EXPECT_EQ(Load(window).Bounds.Left, 1919 - 30);

  Store("Width", 4000);
  Store("Height", 3000);
  Store("Left", 0);
  Store("Top", 0);
  EXPECT_EQ(Load(window).Bounds, (TRect{0, 30, 1920, 1050}));
}

TEST_F(WindowPlacement, DamagedValuesNeitherOverflowNorGiveAnUnusableWindow) {
  Store("Left", INT_MAX);
  Store("Top", INT_MIN);
  Store("Width", -5);
  Store("Height", 0);
  const TPlacementResult result = Load(Window({0, 0, 640, 480}), {INT_MAX / 2, 0, 1920, 1050});
  EXPECT_EQ(result.Bounds.Width, 640);
  EXPECT_EQ(result.Bounds.Height, 480);
  EXPECT_EQ(result.Bounds.Top, 0);
}

TEST_F(WindowPlacement, MaximisedAndMinimisedStatesKeepTheRestoredBounds) {
  TWindowPlacementState window = Window({0, 30, 1920, 1050});
  window.State = WindowStateMaximized;
  window.NormalBounds = TRect{200, 130, 800, 600};
  SavePlacement(window, kWorkArea, FIni, "Current", plAll, {});
  TPlacementResult result = Load(Window({0, 0, 640, 480}));
  EXPECT_EQ(result.ShowState, WindowStateMaximized);
  EXPECT_EQ(result.Bounds, (TRect{200, 130, 800, 600}));

  // The whole program minimised: state 1 with the window's own bounds.
  window.State = WindowStateNormal;
  window.ApplicationMinimized = true;
  window.Bounds = {300, 330, 500, 400};
  SavePlacement(window, kWorkArea, FIni, "Current", plAll, {});
  result = Load(Window({0, 0, 640, 480}));
  EXPECT_EQ(result.ShowState, WindowStateMinimized);
  EXPECT_EQ(result.Bounds, (TRect{300, 330, 500, 400}));

  // Without the minimised part selected it is stored as normal.
  SavePlacement(window, kWorkArea, FIni, "Current", plAll & ~plMinimized, {});
  EXPECT_EQ(FIni.ReadInteger("Current", "State", -1), WindowStateNormal);
}

TEST_F(WindowPlacement, StayOnTopStyleKeepsItsPosition) {
  TWindowPlacementState window = Window({10, 40, 300, 200});
  window.Style = WindowStyleStayOnTop;
  SavePlacement(window, kWorkArea, FIni, "Current", plAll, "Tool");
  EXPECT_EQ(FIni.ReadInteger("Current", "ToolStyle", 0), WindowStyleStayOnTop);
  const TPlacementResult result =
      LoadPlacement(Window({0, 0, 1, 1}), kWorkArea, FIni, "Current", plAll, "Tool");
  EXPECT_EQ(result.Style, WindowStyleStayOnTop);
  EXPECT_TRUE(result.KeepPosition);
  EXPECT_EQ(result.Bounds, (TRect{10, 40, 300, 200}));
}

} // namespace
} // namespace pelrow
