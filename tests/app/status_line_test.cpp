// The status line's rules.
#include "app/status_line.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(StatusLine, KindsDecidePrefixLogLineAndBox) {
  const TStatusPlan plain = PlanStatus("Sent 5 bytes", TStatusKind::Plain);
  EXPECT_EQ(plain.Shown, "Sent 5 bytes");
  EXPECT_EQ(plain.LogLines, std::vector<std::string>{"Sent 5 bytes"});
  EXPECT_FALSE(plain.ShowErrorBox);

  const TStatusPlan error = PlanStatus("100% wrong %s", TStatusKind::Error);
  EXPECT_EQ(error.Shown, "Error: 100% wrong %s");
  EXPECT_EQ(error.LogLines, std::vector<std::string>{"Error: 100% wrong %s"});
  EXPECT_FALSE(error.ShowErrorBox);

  const TStatusPlan box = PlanStatus("no device", TStatusKind::ErrorBox);
  EXPECT_EQ(box.Shown, "Error: no device");
  EXPECT_EQ(box.LogLines, std::vector<std::string>{"Error: no device"});
  EXPECT_TRUE(box.ShowErrorBox);

  const TStatusPlan statusOnly = PlanStatus("Sending line 2/9", TStatusKind::StatusOnly);
  EXPECT_EQ(statusOnly.Shown, "Sending line 2/9");
  EXPECT_TRUE(statusOnly.LogLines.empty());

  const TStatusPlan warning = PlanStatus("data may be missing", TStatusKind::Warning);
  EXPECT_EQ(warning.Shown, "Warning: data may be missing");
  EXPECT_EQ(warning.LogLines, std::vector<std::string>{"Warning: data may be missing"});
  EXPECT_FALSE(warning.ShowErrorBox);
}

// Device errors carry the system's reason after a line break.
TEST(StatusLine, AReportOfSeveralLinesIsOneLineInThePanelAndItsLinesInTheLog) {
  struct TCase {
    const char* Text;
    TStatusKind Kind;
    const char* Panel;
    std::vector<std::string> Log;
  } const cases[] = {
      {"Cannot open \"X\":\r\nDevice busy",
       TStatusKind::ErrorBox,
       "Error: Cannot open \"X\": Device busy",
       {"Error: Cannot open \"X\":", "Device busy"}},
      {"one\ntwo\rthree", TStatusKind::Plain, "one two three", {"one", "two", "three"}},
      {"context\r\n\r\n", TStatusKind::Error, "Error: context", {"Error: context"}},
      {"\r\n", TStatusKind::Plain, "", {}},
      {"a\r\nb", TStatusKind::StatusOnly, "a b", {}},
  };
  for (const TCase& c : cases) {
    const TStatusPlan plan = PlanStatus(c.Text, c.Kind);
    EXPECT_EQ(plan.Shown, c.Panel) << c.Text;
    EXPECT_EQ(plan.LogLines, c.Log) << c.Text;
  }
}

TEST(StatusLine, EmptyTextClearsThePanelWithoutALogLineButAnEmptyErrorStillShows) {
  const TStatusPlan clear = PlanStatus("", TStatusKind::Plain);
  EXPECT_EQ(clear.Shown, "");
  EXPECT_TRUE(clear.LogLines.empty());

  const TStatusPlan error = PlanStatus("", TStatusKind::Error);
  EXPECT_EQ(error.Shown, "Error: ");
  EXPECT_EQ(error.LogLines, std::vector<std::string>{"Error: "});
}

TEST(StatusLine, ShownLogAreaIsLimitedToTwoThirdsOfTheOutBox) {
  EXPECT_EQ(LogHeightWhenShown(300, 250), 200);
  EXPECT_EQ(LogHeightWhenShown(301, 250), 200); // integer arithmetic, rounded down
  EXPECT_EQ(LogHeightWhenShown(300, 120), 120);
  EXPECT_EQ(LogHeightWhenShown(0, 27), 0);
}

} // namespace
} // namespace pelrow
