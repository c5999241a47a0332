// Line store: whole-text joins and splits, change ranges reported to the owner, the
// longest-line bookkeeping the horizontal scroll range depends on, random edits against
// a plain list of strings, and the memory the packed lines take.
#include "editor/vkstrings.h"

#include <gtest/gtest.h>

#include <random>
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

// Every kind of edit at random places, with blocks from one byte to a few dozen, must
// leave the same lines as a plain vector of strings given the same edits.
TEST(LineStore, RandomEditsMatchAPlainListOfStrings) {
  for (unsigned seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](int limit) {
      return std::uniform_int_distribution<int>(0, std::max(0, limit - 1))(random);
    };
    const auto text = [&] { return std::string(static_cast<size_t>(pick(12)), "abc"[pick(3)]); };
    TVKStrings list;
    list.SetBlockBytes(static_cast<size_t>(1 + pick(40)));
    std::vector<std::string> plain;
    for (int step = 0; step < 400; ++step) {
      const int count = static_cast<int>(plain.size());
      const int line = pick(count);
      const auto at = plain.begin() + line;
      const int col = count == 0 ? 0 : pick(static_cast<int>(plain[line].size()) + 1);
      switch (count == 0 ? 0 : pick(9)) {
      case 0: {
        // Sometimes a copy of a line of the list itself.
        const std::string added = count > 0 && pick(3) == 0 ? plain[line] : text();
        if (count > 0 && added == plain[line])
          list.Add(list[line]);
        else
          list.Add(added);
        plain.push_back(added);
        break;
      }
      case 1: {
        const std::string typed = text();
        list.InsertInLine(line, col, typed);
        plain[line].insert(static_cast<size_t>(col), typed);
        break;
      }
      case 2: {
        const int erased = pick(6);
        list.EraseInLine(line, col, erased);
        plain[line].erase(static_cast<size_t>(col), static_cast<size_t>(erased));
        break;
      }
      case 3:
        list.SplitLine(line, col);
        plain.insert(at + 1, plain[line].substr(static_cast<size_t>(col)));
        plain[line].resize(static_cast<size_t>(col));
        break;
      case 4:
        if (line + 1 < count) {
          list.JoinLines(line);
          plain[line] += plain[line + 1];
          plain.erase(at + 1);
        }
        break;
      case 5: {
        const std::vector<std::string> lines{text(), text(), text()};
        list.InsertLines(line, lines);
        plain.insert(at, lines.begin(), lines.end());
        break;
      }
      case 6: {
        const int deleted = 1 + pick(std::min(4, count - line));
        list.DeleteLines(line, deleted);
        plain.erase(at, at + deleted);
        break;
      }
      case 7: {
        // A run of lines moves out and back in somewhere else, as undo does.
        const int moved = 1 + pick(count - line);
        TVKLineStore run = list.TakeLines(line, moved);
        std::vector<std::string> runPlain(at, at + moved);
        plain.erase(at, at + moved);
        const int to = pick(static_cast<int>(plain.size()) + 1);
        list.PutLines(to, std::move(run));
        plain.insert(plain.begin() + to, runPlain.begin(), runPlain.end());
        break;
      }
      default: {
        const std::string put = text();
        list.Put(line, put);
        plain[line] = put;
        break;
      }
      }
      ASSERT_EQ(LinesOf(list), plain) << "step " << step;
    }
    TVKStrings copy(list);
    EXPECT_EQ(LinesOf(copy), plain);
  }
}

// Short note lines, In box lines and one long dump line each take at most twice
// their text; emptied, the store keeps next to nothing.
TEST(LineStore, MemoryStaysWithinTwiceTheText) {
  struct TCase {
    int Lines;
    size_t Length;
  };
  for (const TCase& shape : {TCase{200'000, 8}, TCase{20'000, 95}, TCase{1, 5'000'000}}) {
    SCOPED_TRACE(std::to_string(shape.Length));
    TVKStrings list;
    for (int i = 0; i < shape.Lines; ++i)
      list.Add(std::string(shape.Length, 'F'));
    // Typing at the end of the last line, a few characters at a time.
    for (int i = 0; i < 1000; ++i)
      list.InsertInLine(list.Count() - 1, list.LineLength(list.Count() - 1), "7F ");
    const size_t text = shape.Length * static_cast<size_t>(shape.Lines) + 3000;
    EXPECT_LE(list.MemoryUsed(), 2 * text);
    list.DeleteLines(0, list.Count());
    EXPECT_LT(list.MemoryUsed(), 4096u);
  }
}

} // namespace
} // namespace pelrow
