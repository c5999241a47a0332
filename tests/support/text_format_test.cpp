// Message patterns: marks filled in order, and nothing read past the arguments.
#include "support/hex_digits.h"
#include "support/text_format.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(FormatText, MarksTakeTheArgumentsInOrder) {
  EXPECT_EQ(FormatText("Sending line %d/%d (%d bytes sent)", 2, 10, -1),
            "Sending line 2/10 (-1 bytes sent)");
  EXPECT_EQ(FormatText("Cannot use %s: %s", "ALSA", std::string("no sequencer")),
            "Cannot use ALSA: no sequencer");
  EXPECT_EQ(FormatText("%s", std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(FormatText, ArgumentTextIsNeverReadAsAPattern) {
  EXPECT_EQ(FormatText("Error: %s (%s)", "100%s %d", "x"), "Error: 100%s %d (x)");
}

TEST(FormatText, PercentSignsAndLeftOverMarksStay) {
  EXPECT_EQ(FormatText("%d%% done", 50), "50% done");
  EXPECT_EQ(FormatText("%s and %s", "one"), "one and %s");
  EXPECT_EQ(FormatText("%.2f KB/s %x %"), "%.2f KB/s %x %");
}

TEST(HexDigits, EveryByteRoundTripsThroughTwoDigits) {
  for (int byte = 0; byte < 256; ++byte) {
    std::string text;
    AppendHexByte(static_cast<uint8_t>(byte), text);
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(HexDigitValue(text[0]) * 16 + HexDigitValue(text[1]), byte);
  }
  EXPECT_EQ(HexDigitValue('f'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
  EXPECT_EQ(HexDigitValue('\xC6'), -1);
}

} // namespace
} // namespace pelrow
