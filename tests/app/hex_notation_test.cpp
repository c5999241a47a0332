#include "app/hex_notation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pelrow;

namespace {

struct TReport {
  std::string Text;
  TStatusSide Side;
  TStatusKind Kind;
  bool Immediate;
};

class ParserFixture : public ::testing::Test {
protected:
  ParserFixture()
      : Parser([this](const std::string& text, TStatusSide side, TStatusKind kind,
                      bool immediate) { Reports.push_back({text, side, kind, immediate}); }) {}

  std::vector<uint8_t> Parse(std::string_view text, int lineIndex = 0) {
    int count = -1;
    const bool found = Parser.ParseLine(lineIndex, text, count);
    EXPECT_EQ(found, count > 0);
    return {Parser.MsgBuf(), Parser.MsgBuf() + count};
  }

  std::vector<std::string> ReportTexts() const {
    std::vector<std::string> texts;
    for (const auto& report : Reports)
      texts.push_back(report.Text);
    return texts;
  }

  std::vector<TReport> Reports;
  THexParser Parser;
};

using Bytes = std::vector<uint8_t>;

} // namespace

TEST_F(ParserFixture, AcceptsBytesWithAndWithoutSeparatorsInEitherCase) {
  for (const char* line : {"F07E7F", "F0 7E 7F", "f0 7e 7f", "F0\t7E  7F", "F0\x01" "7E\x1f" "7F"})
    EXPECT_EQ(Parse(line), (Bytes{0xF0, 0x7E, 0x7F})) << line;
  EXPECT_TRUE(Reports.empty());
}

TEST_F(ParserFixture, CommentsEndTheData) {
  for (const char* line : {"F0 7E 7F ; reply", "F0 7E 7F // reply", "F0 7E 7F #x", "F0 7E 7F;x"})
    EXPECT_EQ(Parse(line), (Bytes{0xF0, 0x7E, 0x7F})) << line;
  for (const char* line : {"// comment", "; comment", "#", ""})
    EXPECT_TRUE(Parse(line).empty()) << line;
  EXPECT_TRUE(Reports.empty());
}

TEST_F(ParserFixture, LastCharacterNeverStartsAByte) {
  EXPECT_TRUE(Parse("F").empty());
  EXPECT_EQ(Parse("F0 7"), (Bytes{0xF0}));
  EXPECT_TRUE(Reports.empty());
}

TEST_F(ParserFixture, ReportsEachFailedPositionAndKeepsTheBytesAround) {
  EXPECT_EQ(Parse("0xF0"), (Bytes{0xF0}));
  EXPECT_EQ(Parse("F0,7E"), (Bytes{0xF0, 0x7E}));
  EXPECT_TRUE(Parse("F 0").empty());
  EXPECT_EQ(Parse("F0 /x"), (Bytes{0xF0}));
  EXPECT_EQ(ReportTexts(), (std::vector<std::string>{
                               "line 1:2: Unexpected characters: \"0x\"",
                               "line 1:3: Unexpected characters: \"xF\"",
                               "line 1:4: Unexpected characters: \",7\"",
                               "line 1:2: Unexpected characters: \"F \"",
                               "line 1:5: Unexpected characters: \"/x\"",
                           }));
  for (const auto& report : Reports) {
    EXPECT_EQ(report.Side, TStatusSide::Out);
    EXPECT_EQ(report.Kind, TStatusKind::Error);
    EXPECT_TRUE(report.Immediate);
  }
}

TEST_F(ParserFixture, ReportsCarryTheOneBasedLineNumber) {
  Parse("G0", 11);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Text, "line 12:2: Unexpected characters: \"G0\"");
}

TEST_F(ParserFixture, HighCharactersAreNotDigits) {
  // Latin-1 letters must not be taken for hex digits after upper-casing.
  EXPECT_EQ(Parse("\xE1\xE2 F7"), (Bytes{0xF7}));
  EXPECT_EQ(Reports.size(), 2u);
}

TEST_F(ParserFixture, ShortLineAfterLongLineReadsZerosUpToIndexThree) {
  Parse("F0 01 02 03 04 05 F7");
  EXPECT_EQ(Parse("C0"), (Bytes{0xC0}));
  const uint8_t* buf = Parser.MsgBuf();
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[3], 0);
}

TEST_F(ParserFixture, BufferGrowsWithTheLine) {
  Parse("F0");
  EXPECT_EQ(Parser.MsgBufSize(), 10);
  const std::string digits(1000, 'A');
  EXPECT_EQ(Parse(digits).size(), 500u);
  EXPECT_GE(Parser.MsgBufSize(), 505);
  // A shorter line keeps the larger buffer.
  Parse("F0");
  EXPECT_GE(Parser.MsgBufSize(), 505);
}

TEST(HexPair, ConvertsOrLeavesTheValueAlone) {
  uint8_t value = 0x55;
  EXPECT_TRUE(ParseHexPair("a9", value));
  EXPECT_EQ(value, 0xA9);
  value = 0x55;
  EXPECT_FALSE(ParseHexPair("G0", value));
  EXPECT_FALSE(ParseHexPair("0 ", value));
  EXPECT_EQ(value, 0x55);
}

TEST(MsgBuf, NeverSmallerThanTenAndOnlyGrows) {
  THexParser parser;
  parser.EnsureMsgBuf(0);
  EXPECT_EQ(parser.MsgBufSize(), 10);
  parser.EnsureMsgBuf(64);
  EXPECT_EQ(parser.MsgBufSize(), 64);
  parser.EnsureMsgBuf(20);
  EXPECT_EQ(parser.MsgBufSize(), 64);
}

TEST(DefaultOutBox, HoldsThreeCommentLinesThatSendNothing) {
  THexParser parser([](auto&&...) { FAIL() << "no report expected"; });
  std::string text = DefaultOutBoxText;
  int lines = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    int count = 0;
    EXPECT_FALSE(parser.ParseLine(lines, text.substr(start, end - start), count));
    ++lines;
    start = end + 2;
  }
  EXPECT_EQ(lines, 3);
}
