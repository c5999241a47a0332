// Line store: whole-text joins and splits, change ranges reported to the owner, and
// the longest-line bookkeeping the horizontal scroll range depends on.
#include "editor/vkstrings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelrow {
namespace {

std::vector<std::string> LinesOf(const TVKStrings& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.emplace_back(list[i]);
  return lines;
}

struct TRecordingOwner : TVKStringsOwner {
  std::vector<std::string> Events;
  void LinesChanging(TVKStrings&) override { Events.push_back("changing"); }
  void LinesChangeEnded(TVKStrings&) override { Events.push_back("changed"); }
  void LinesChanged(TVKStrings&, int first, int last) override {
    Events.push_back("lines " + std::to_string(first) + " " + std::to_string(last));
  }
  void MaxLineLengthChanged(TVKStrings&, int max) override {
    Events.push_back("max " + std::to_string(max));
  }
};

TEST(LineStore, TextJoinsWithCrLfAndNoFinalBreak) {
  TVKStrings list;
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(list.Text(), "a\r\nb");
  list.Add("");
  EXPECT_EQ(list.Text(), "a\r\nb\r\n");
}

TEST(LineStore, SetTextSplitsAtEveryBreakStyle) {
  TVKStrings list;
  list.SetText("x\r\ny\r\n");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"x", "y"}));
  list.SetText("a\rb\nc\r\n\r\nd\n\ne");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"a", "b", "c", "", "d", "", "e"}));
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
  list.SetText("\n");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{""}));
}

TEST(LineStore, BytesRoundTripUnchanged) {
  std::string bytes;
  for (int c = 0; c < 256; ++c)
    if (c != '\r' && c != '\n')
      bytes += static_cast<char>(c);
  TVKStrings list;
  list.SetText(bytes + "\r\n" + bytes);
  EXPECT_EQ(list.Text(), bytes + "\r\n" + bytes);
}

TEST(LineStore, OutermostBracketReportsMergedRangeThenMaximum) {
  TVKStrings list;
  list.SetText("one\r\ntwo\r\nthree\r\nfour");
  TRecordingOwner owner;
  list.SetOwner(&owner);

  list.BeginUpdate();
  list.Put(2, "3");
  list.Put(1, "a much longer line");
  list.EndUpdate();
  EXPECT_EQ(owner.Events, (std::vector<std::string>{"changing", "changed", "lines 1 2", "max 18"}));

  owner.Events.clear();
  list.Insert(1, "x");
  EXPECT_EQ(owner.Events, (std::vector<std::string>{"changing", "changed", "lines 1 -1"}));

  owner.Events.clear();
  list.Exchange(0, 3);
  EXPECT_EQ(owner.Events.at(2), "lines 0 3");

  owner.Events.clear();
  list.InsertInLine(1, 1, "-inserted-"); // the line "x"
  list.EraseInLine(1, 0, 1);
  EXPECT_EQ(list[1], "-inserted-");
  EXPECT_EQ(owner.Events, (std::vector<std::string>{"changing", "changed", "lines 1 1", "changing",
                                                    "changed", "lines 1 1"}));

  owner.Events.clear();
  list.Clear();
  EXPECT_EQ(owner.Events,
            (std::vector<std::string>{"changing", "changed", "lines -1 -1", "max 0"}));
}

TEST(LineStore, MaxLineLengthGrowsOnlyUntilResetByClearOrSetText) {
  TVKStrings list;
  list.Add("12345");
  list.Add("12");
  list.Delete(0);
  EXPECT_EQ(list.MaxLineLength(), 5);
  list.SetText("abc");
  EXPECT_EQ(list.MaxLineLength(), 3);
  list.InsertInLine(0, 3, "de");
  EXPECT_EQ(list.MaxLineLength(), 5);
  list.Clear();
  EXPECT_EQ(list.MaxLineLength(), 0);
}

TEST(LineStore, BadIndexThrowsAndStillClosesTheBracket) {
  TVKStrings list;
  list.Add("a");
  TRecordingOwner owner;
  list.SetOwner(&owner);
  EXPECT_THROW(list.Put(5, "x"), EStringListError);
  EXPECT_THROW(list.Delete(-1), EStringListError);
  EXPECT_THROW((void)list[1], EStringListError);
  EXPECT_THROW(list.InsertInLine(0, 2, "x"), EStringListError);
  EXPECT_THROW(list.EraseInLine(0, -1, 1), EStringListError);
  EXPECT_FALSE(list.Updating());
  EXPECT_EQ(list.Text(), "a");
}

TEST(LineStore, SortExchangeAndAssign) {
  TVKStrings list;
  list.SetText("c\nA\nb");
  list.CustomSort([](const TVKStrings& l, int i, int j) { return l[i].compare(l[j]); });
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"A", "b", "c"}));
  TVKStrings copy;
  copy.Add("old");
  copy = list;
  EXPECT_EQ(copy.Text(), "A\r\nb\r\nc");
}

} // namespace
} // namespace pelrow
