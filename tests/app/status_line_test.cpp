// The status line's rules.
#include "app/status_line.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(StatusLine, KindsDecidePrefixLogLineAndBox) {
  const TStatusPlan plain = PlanStatus("Sent 5 bytes", TStatusKind::Plain);
  EXPECT_EQ(plain.Shown, "Sent 5 bytes");
  EXPECT_TRUE(plain.AppendToLog);
  EXPECT_FALSE(plain.ShowErrorBox);

  const TStatusPlan error = PlanStatus("100% wrong %s", TStatusKind::Error);
  EXPECT_EQ(error.Shown, "Error: 100% wrong %s");
  EXPECT_TRUE(error.AppendToLog);
  EXPECT_FALSE(error.ShowErrorBox);

  const TStatusPlan box = PlanStatus("no device", TStatusKind::ErrorBox);
  EXPECT_EQ(box.Shown, "Error: no device");
  EXPECT_TRUE(box.AppendToLog);
  EXPECT_TRUE(box.ShowErrorBox);

  const TStatusPlan statusOnly = PlanStatus("Sending line 2/9", TStatusKind::StatusOnly);
  EXPECT_EQ(statusOnly.Shown, "Sending line 2/9");
  EXPECT_FALSE(statusOnly.AppendToLog);

  const TStatusPlan warning = PlanStatus("data may be missing", TStatusKind::Warning);
  EXPECT_EQ(warning.Shown, "Warning: data may be missing");
  EXPECT_TRUE(warning.AppendToLog);
  EXPECT_FALSE(warning.ShowErrorBox);
}

TEST(StatusLine, EmptyTextClearsThePanelWithoutALogLineButAnEmptyErrorStillShows) {
  const TStatusPlan clear = PlanStatus("", TStatusKind::Plain);
  EXPECT_EQ(clear.Shown, "");
  EXPECT_FALSE(clear.AppendToLog);

  const TStatusPlan error = PlanStatus("", TStatusKind::Error);
  EXPECT_EQ(error.Shown, "Error: ");
  EXPECT_TRUE(error.AppendToLog);
}

TEST(StatusLine, ShownLogAreaIsLimitedToTwoThirdsOfTheOutBox) {
  EXPECT_EQ(LogHeightWhenShown(300, 250), 200);
  EXPECT_EQ(LogHeightWhenShown(301, 250), 200); // integer arithmetic, rounded down
  EXPECT_EQ(LogHeightWhenShown(300, 120), 120);
  EXPECT_EQ(LogHeightWhenShown(0, 27), 0);
}

} // namespace
} // namespace pelrow
