// The layouts a view keeps for long lines follow the text: changed, inserted and
// removed lines, a line that grew, and a new tab width are laid out afresh.
#include "editor/vklayoutcache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelrow {
namespace {

// A line of 10000 characters with a tab at column at.
std::string LongLine(int at) {
  std::string line(10000, 'x');
  line[static_cast<size_t>(at)] = '\t';
  return line;
}

TEST(LayoutCache, LongLinesFollowTheirChangesShortOnesAreNotKept) {
  std::vector<std::string> lines = {LongLine(1), "a\tb", LongLine(5000)};
  TVKLayoutCache cache;
  EXPECT_EQ(cache.DisplayColumn(0, lines[0], 9000, 8), 9006);
  EXPECT_EQ(cache.DisplayColumn(1, lines[1], 2, 8), 8);
  EXPECT_EQ(cache.DisplayColumn(2, lines[2], 9000, 8), 9007);
  EXPECT_EQ(cache.Kept(), 2u);

  // Replaced in place at the same length: only the owner's word tells.
  lines[0] = LongLine(3);
  cache.Forget(0, 0);
  EXPECT_EQ(cache.DisplayColumn(0, lines[0], 9000, 8), 9004);
  EXPECT_EQ(cache.VisibleText(0, lines[0], 0, 5, 8), "xxx  ");
  EXPECT_EQ(cache.ColumnAtDisplay(0, lines[0], 9004, 8), 9000);

  // A line inserted before: every line from there on moves down.
  lines.insert(lines.begin() + 1, LongLine(9999));
  lines[1].reserve(20000); // grows below in place
  cache.Forget(1, -1);
  EXPECT_EQ(cache.DisplayColumn(3, lines[3], 9000, 8), 9007);
  EXPECT_EQ(cache.DisplayColumn(1, lines[1], 9000, 8), 9000);

  // A line that grew is seen without being told; so is another tab width.
  lines[1] += "\tz";
  EXPECT_EQ(cache.DisplayColumn(1, lines[1], 10002, 8), 10009);
  EXPECT_EQ(cache.DisplayColumn(1, lines[1], 10002, 4), 10005);

  cache.Forget(-1, -1);
  EXPECT_EQ(cache.Kept(), 0u);
}

} // namespace
} // namespace pelrow
