// The status line's rules and the context menu's item states.
#include "app/main_menu.h"
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

TEST(MainMenu, AccessKeyIsTheCharacterAfterTheSingleAmpersand) {
  EXPECT_EQ(AccessKey("E&xit"), 'x');
  EXPECT_EQ(AccessKey("Settings..."), '\0');
  EXPECT_EQ(AccessKey("A&&B &C"), 'C');
  EXPECT_EQ(AccessKey("trailing&"), '\0');
}

TEST(MainMenu, PopupOnReadOnlyLogKeepsOnlyCopySelectAllAndClear) {
  const TPopupState s = PopupStateFor({false, true, true, true});
  EXPECT_TRUE(s.Copy.Visible && s.SelectAll.Visible && s.Clear.Visible);
  EXPECT_FALSE(s.Cut.Visible || s.Delete.Visible || s.Paste.Visible || s.Send.Visible);
  EXPECT_FALSE(s.Paste.Enabled);
}

TEST(MainMenu, PopupEnablesSelectionCommandsOnlyWithASelectionAndPasteOnlyWithText) {
  const TPopupState none = PopupStateFor({true, false, false, false});
  EXPECT_TRUE(none.Send.Visible);
  EXPECT_FALSE(none.Copy.Enabled || none.Cut.Enabled || none.Delete.Enabled || none.Paste.Enabled);
  EXPECT_TRUE(none.Paste.Visible);

  const TPopupState some = PopupStateFor({false, true, false, true});
  EXPECT_FALSE(some.Send.Visible);
  EXPECT_TRUE(some.Copy.Enabled && some.Cut.Enabled && some.Delete.Enabled && some.Paste.Enabled);
}

TEST(MainMenu, EveryItemNamesAnExistingTopLevelMenuAndNamesAreUnique) {
  for (const TMenuItemSpec& item : MainMenuItems()) {
    EXPECT_EQ(FindMenuItem(item.Name), &item) << item.Name;
    if (item.Kind != TMenuItemKind::Menu) {
      const TMenuItemSpec* parent = FindMenuItem(item.Parent);
      ASSERT_NE(parent, nullptr) << item.Name;
      EXPECT_EQ(parent->Kind, TMenuItemKind::Menu) << item.Name;
    }
  }
  for (const TMenuItemSpec& item : PopupMenuItems())
    EXPECT_EQ(FindMenuItem(item.Name), &item) << item.Name;
}

} // namespace
} // namespace pelrow
