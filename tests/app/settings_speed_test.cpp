// The speed bar's mapping, the text under it, and the size the font-size list picks.
#include "app/settings_speed.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(SettingsSpeed, PositionsAndSpeedsTruncateTowardZeroAndStayOnTheBar) {
  EXPECT_EQ(SpeedToPosition(300), 2);
  EXPECT_EQ(PositionToSpeed(2), 250);
  EXPECT_EQ(SpeedToPosition(-300), -2);
  EXPECT_EQ(SpeedToPosition(-124), 0);
  EXPECT_EQ(SpeedToPosition(-500), -4);
  EXPECT_EQ(SpeedToPosition(1000), 8);
  EXPECT_EQ(SpeedToPosition(5000), 8);
  EXPECT_EQ(SpeedToPosition(-5000), -8);
  for (int position = SpeedBarMin; position <= SpeedBarMax; ++position)
    EXPECT_EQ(SpeedToPosition(PositionToSpeed(position)), position);
  EXPECT_EQ(PositionToSpeed(-8), -1000);
  EXPECT_EQ(PositionToSpeed(-3), -375);
}

TEST(SettingsSpeed, LabelTexts) {
  EXPECT_EQ(SpeedLabelText(8), "Speed: as fast as possible (no throttling)");
  EXPECT_EQ(SpeedLabelText(7), "Speed: 23381 bytes/s = 22.83 KB/s (7.5x)");
  EXPECT_EQ(SpeedLabelText(0), "Speed: 3125 bytes/s = 3.05 KB/s (1.0x)");
  EXPECT_EQ(SpeedLabelText(-4), "Speed: 989 bytes/s = 0.97 KB/s (1/3.2x)");
  EXPECT_EQ(SpeedLabelText(-8), "Speed: 313 bytes/s = 0.31 KB/s (1/10.0x)");
}

TEST(SettingsSpeed, FontSizeListPicksTheFirstSizeAtLeastAsLargeOrTheLargest) {
  auto picked = [](int pointSize) { return FontSizes.at(FontSizeIndex(pointSize)); };
  EXPECT_EQ(picked(13), 14);
  EXPECT_EQ(picked(24), 20);
  EXPECT_EQ(picked(20), 20);
  EXPECT_EQ(picked(8), 8);
  EXPECT_EQ(picked(1), 6);
  EXPECT_EQ(picked(-1), 6);
}

} // namespace
} // namespace pelrow
