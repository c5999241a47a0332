#include "app/hex_notation.h"
#include "app/line_formatter.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace pelrow;

namespace {

using Lines = std::vector<std::string>;

Lines Format(const std::vector<uint8_t>& bytes, int limit) {
  Lines lines;
  EXPECT_TRUE(AddLongMessageLines(bytes.data(), static_cast<int>(bytes.size()), limit,
                                  [&](std::string_view line) { lines.emplace_back(line); },
                                  {}));
  return lines;
}

std::vector<uint8_t> SysEx(int length) {
  std::vector<uint8_t> bytes(static_cast<size_t>(length), 0x11);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

std::vector<size_t> LineByteCounts(const Lines& lines) {
  std::vector<size_t> counts;
  for (const auto& line : lines)
    counts.push_back((line.size() + 1) / 3);
  return counts;
}

Lines ShortLine(uint8_t status, uint8_t data1, uint8_t data2, int length) {
  Lines lines;
  EXPECT_TRUE(AddShortMessageLine(status, data1, data2, length,
                                  [&](std::string_view line) { lines.emplace_back(line); },
                                  {}));
  return lines;
}

} // namespace

TEST(LineFormatter, ShortMessagesGiveOneUpperCaseLine) {
  EXPECT_EQ(ShortLine(0x90, 0x3C, 0x7F, 3), (Lines{"90 3C 7F"}));
  EXPECT_EQ(ShortLine(0xC0, 0x05, 0, 2), (Lines{"C0 05"}));
  EXPECT_EQ(ShortLine(0xF8, 0, 0, 1), (Lines{"F8"}));
  EXPECT_EQ(ShortLine(0xB0, 0x0A, 0x0A, 3), (Lines{"B0 0A 0A"}));
  EXPECT_TRUE(ShortLine(0x45, 0, 0, 0).empty());
}

TEST(LineFormatter, ReceivedShortEventUsesItsMessageLength) {
  Lines lines;
  const TAddLine add = [&](std::string_view line) { lines.emplace_back(line); };
  // Packed as it arrives: status in bits 0-7, data bytes above.
  EXPECT_TRUE(AddShortMessageLine(*TMyMidiEvent::FromShort(0x7F3C90, 0), add, {}));
  EXPECT_TRUE(AddShortMessageLine(*TMyMidiEvent::FromShort(0x0005C0, 0), add, {}));
  EXPECT_TRUE(AddShortMessageLine(*TMyMidiEvent::FromShort(0x000045, 0), add, {}));
  EXPECT_EQ(lines, (Lines{"90 3C 7F", "C0 05"}));
}

TEST(LineFormatter, StatusBytesOtherThanF7StartNewLines) {
  EXPECT_EQ(Format({0xF0, 0x41, 0x10, 0xF7, 0xF0, 0x43, 0x10, 0xF7}, -1),
            (Lines{"F0 41 10 F7", "F0 43 10 F7"}));
  // A real-time byte inside a block is cut out onto a line of its own.
  EXPECT_EQ(Format({0xF0, 0x41, 0xF8, 0x10, 0xF7}, 32), (Lines{"F0 41", "F8 10 F7"}));
  // A continuation piece starts with its data bytes.
  EXPECT_EQ(Format({0x01, 0x02, 0xF7}, -1), (Lines{"01 02 F7"}));
}

TEST(LineFormatter, SplitsByLengthOnlyWithAPositiveLimit) {
  EXPECT_EQ(Format({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, -1), (Lines{"F0 7E 7F 06 01 F7"}));
  EXPECT_EQ(Format({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, 6), (Lines{"F0 7E 7F 06 01 F7"}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(70), 32)), (std::vector<size_t>{32, 32, 6}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(32), 32)), (std::vector<size_t>{32}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(33), 32)), (std::vector<size_t>{32, 1}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(5), 1)), (std::vector<size_t>{1, 1, 1, 1, 1}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(70), 0)), (std::vector<size_t>{70}));
  EXPECT_EQ(LineByteCounts(Format(SysEx(70), -5)), (std::vector<size_t>{70}));
}

TEST(LineFormatter, EmptyBlockAddsNothing) { EXPECT_TRUE(Format({}, 32).empty()); }

TEST(LineFormatter, SplitThresholdFollowsTheOption) {
  EXPECT_EQ(SplitThreshold(true, 32), 32);
  EXPECT_EQ(SplitThreshold(false, 32), -1);
}

TEST(LineFormatter, FailureIsReportedAndEarlierLinesStay) {
  Lines lines;
  std::vector<std::string> reports;
  const auto bytes = SysEx(100);
  const bool ok = AddLongMessageLines(
      bytes.data(), 100, 32,
      [&](std::string_view line) {
        if (lines.size() == 2)
          throw std::runtime_error("Out of memory");
        lines.emplace_back(line);
      },
      [&](const std::string& text, TStatusSide side, TStatusKind kind, bool immediate) {
        EXPECT_EQ(side, TStatusSide::In);
        EXPECT_EQ(kind, TStatusKind::Error);
        EXPECT_FALSE(immediate);
        reports.push_back(text);
      });
  EXPECT_FALSE(ok);
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(reports, (std::vector<std::string>{"Out of memory"}));
}

// Whatever arrives, the lines shown in the In box must parse back into the very
// same bytes when the user copies them into the Out box.
TEST(LineFormatter, EveryLineParsesBackToItsBytes) {
  std::mt19937 random(7);
  THexParser parser([](auto&&...) { FAIL() << "formatted text must parse cleanly"; });
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(random() % 300 + 1);
    for (auto& b : bytes)
      b = static_cast<uint8_t>(random());
    const int limit = static_cast<int>(random() % 40) - 5;
    std::vector<uint8_t> parsed;
    for (const auto& line : Format(bytes, limit)) {
      EXPECT_EQ(line.find("  "), std::string::npos);
      EXPECT_NE(line.back(), ' ');
      int count = 0;
      ASSERT_TRUE(parser.ParseLine(0, line, count));
      if (limit > 0) {
        EXPECT_LE(count, limit);
      }
      parsed.insert(parsed.end(), parser.MsgBuf(), parser.MsgBuf() + count);
    }
    EXPECT_EQ(parsed, bytes);
  }
}
