// Checking dumps shaped as devices send them: every problem found at its line and
// summed up as the user reads it, every message described, and the loss marks of
// the receive path read back.
#include "app/dump_check.h"

#include "app/damage_mark.h"
#include "app/hex_notation.h"
#include "app/line_formatter.h"
#include "editor/vkstrings.h"

#include <gtest/gtest.h>

#include "app/dump_samples.h"

namespace pelrow {
namespace {

using namespace test;

TCheckReport Check(const TLines& lines) {
  TVKStrings list;
  list.AddStrings(lines);
  return CheckDump(DumpDataOfLines(list));
}

TBytes Changed(TBytes bytes, size_t at, uint8_t value) {
  bytes[at] = value;
  return bytes;
}

TBytes Without(TBytes bytes, size_t from, size_t count) {
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(from),
              bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
  return bytes;
}

TLines ManyGsResetsWithBadLines(int count, std::initializer_list<int> badLines) {
  TLines lines(static_cast<size_t>(count), GsReset);
  for (const int line : badLines)
    lines[static_cast<size_t>(line - 1)] = GsResetBadSum;
  return lines;
}

struct TCheckCase {
  const char* Name;
  TLines Lines;
  std::string Summary;
  int FirstProblemLine; // 0: none
};

TEST(DumpCheck, FindsEveryProblemAtItsLine) {
  const TBytes voice = YamahaVoiceDump();
  const TCheckCase cases[] = {
      {"Roland data sets with one- and four-byte model IDs",
       Joined({{GsReset}, HexLines(RolandDataSet({0x10, 0x00, 0x00, 0x00, 0x05, 0x7F}))}),
       "2 messages, Roland, no problems found", 0},
      {"a bad Roland checksum among good ones and a request",
       {GsReset, GsResetBadSum, "F0 41 10 42 11 40 00 00 00 00 10 30 F7"},
       "3 messages, Roland, 1 checksum error: line 2",
       2},
      {"the size of a big backup", ManyGsResetsWithBadLines(1024, {17, 230}),
       "1,024 messages, Roland, 2 checksum errors: lines 17, 230", 17},
      {"a Yamaha voice dump over lines of 32 bytes", HexLines(voice, 32),
       "1 message, Yamaha, no problems found", 0},
      {"a Yamaha dump with an address", HexLines(YamahaAddressedDump()),
       "1 message, Yamaha, no problems found", 0},
      {"a Yamaha voice dump with a data byte changed",
       Joined({{IdentityRequest}, HexLines(Changed(voice, 40, 0x11), 32)}),
       "2 messages, Universal Non-Real-Time, Yamaha, 1 checksum error: line 2", 2},
      {"a Yamaha voice dump shorter than its byte count", HexLines(Without(voice, 20, 5), 32),
       "1 message, Yamaha, 1 byte count error: line 1", 1},
      {"an identity request and its replies",
       {IdentityRequest, RolandIdentityReply, "F0 7E 00 06 02 43 00 41 34 06 00 00 00 7F F7"},
       "3 messages, Universal Non-Real-Time, no problems found",
       0},
      {"cut and malformed messages",
       {"3C 7F", "F0 41 10 42 12 40", "F0 42 30 00 01 2F 85 00 F7", "90 3C", "F7",
        "F0 43 10 4C 00 00 7E"},
       "4 messages, Roland, Korg, Yamaha, 1 message without F7: line 6; 2 cut messages: lines "
       "2, 4; 1 byte above 7F: line 3; 3 stray bytes: lines 1, 5",
       1},
      {"a status byte inside a message that still ends with its F7",
       {"F0 41 10 42 12 40 00 7F", "90", "00 41 F7"},
       "1 message, Roland, 1 byte above 7F: line 2; 1 checksum error: line 1",
       1},
      {"loss marks of the receive path, in and between messages",
       {"F0 41 10 42 12 40 00", "; damaged: 1,024 bytes lost", GsReset, "// gap", IdentityRequest},
       "3 messages, Roland, Universal Non-Real-Time, 1 damaged message: line 2; 1 loss mark: "
       "line 4",
       2},
      {"a loss mark after a message that never ended",
       {"F0 7E 7F 06", "# lost 20 bytes"},
       "1 message, Universal Non-Real-Time, 1 damaged message: line 2",
       2},
      {"interruption marks of the receive path, whatever their wording",
       {"; !? gap: the MIDI system was interrupted", GsReset, MayBeLostMarkLine},
       "1 message, Roland, 2 places that may be incomplete: lines 1, 3",
       1},
      {"text errors, running status and real time inside a message",
       {"90 3C 7F 3E 7F", "F0 7E zz 7F 06 01 F7", "F0 7E 7F 06 F8 01 F7"},
       "4 messages, Universal Non-Real-Time, 2 text errors: line 2",
       2},
      {"a box of comments",
       {"// type here MIDI messages in hex", "", "; reply"},
       "0 messages, no MIDI messages",
       0},
  };
  for (const TCheckCase& c : cases) {
    const TCheckReport report = Check(c.Lines);
    EXPECT_EQ(CheckSummaryText(report), c.Summary) << c.Name;
    EXPECT_EQ(report.Problems.empty() ? 0 : report.Problems.front().Line, c.FirstProblemLine)
        << c.Name;
  }
}

TEST(DumpCheck, DescribesEachMessage) {
  const std::pair<std::string, std::string> cases[] = {
      {GsReset, "#1, 11 bytes, System Exclusive, Roland (41), device 10, DT1"},
      {RolandIdentityReply, "#1, 15 bytes, System Exclusive, Universal Non-Real-Time (7E), device "
                            "10, General Information: Identity Reply from Roland"},
      {"F0 7F 7F 04 01 00 7F F7", "#1, 8 bytes, System Exclusive, Universal Real-Time (7F), device "
                                  "7F, Device Control: Master Volume"},
      {"F0 43 02 00 00 01 05 7B F7",
       "#1, 9 bytes, System Exclusive, Yamaha (43), device 02, Bulk Dump"},
      {"F0 00 20 29 02 11 F7", "#1, 7 bytes, System Exclusive, Novation (00 20 29), device 02"},
      {"F0 00 21 09 01 F7", "#1, 6 bytes, System Exclusive, manufacturer 00 21 09, device 01"},
      {"B2 07 64", "#1, 3 bytes, Control Change, channel 3"},
      {"F8", "#1, 1 byte, Timing Clock"},
  };
  for (const auto& [line, text] : cases) {
    const TCheckReport report = Check({line});
    ASSERT_EQ(report.Messages.size(), 1u) << line;
    EXPECT_EQ(CheckedMessageText(report.Messages[0]), text);
    EXPECT_TRUE(report.Problems.empty()) << line << ": " << report.Problems[0].Text;
  }
}

TEST(DumpCheck, NamesEveryProblemInTheLogAndSumsThemUpLast) {
  std::vector<std::pair<std::string, TStatusSide>> shown;
  const TShowStatus showStatus = [&](const std::string& text, TStatusSide side, TStatusKind kind,
                                     bool) {
    EXPECT_EQ(kind, TStatusKind::Plain);
    shown.emplace_back(text, side);
  };
  ReportCheck(Check({GsResetBadSum, "F0 41 10 42"}), TStatusSide::In, showStatus);
  const std::vector<std::pair<std::string, TStatusSide>> expected{
      {"line 1: checksum error in message 1 (DT1): checksum 42, should be 41", TStatusSide::In},
      {"line 2: System Exclusive message 2 has no F7", TStatusSide::In},
      {"2 messages, Roland, 1 message without F7: line 2; 1 checksum error: line 1",
       TStatusSide::In}};
  EXPECT_EQ(shown, expected);

  // A box of garbage does not flood the log: the rest is counted (the box holding
  // no messages among them).
  shown.clear();
  ReportCheck(Check(TLines(MaxLoggedProblems + 20, "F7")), TStatusSide::Out, showStatus);
  ASSERT_EQ(shown.size(), static_cast<size_t>(MaxLoggedProblems + 2));
  EXPECT_EQ(shown[MaxLoggedProblems].first, "... and 21 more problems");
}

TEST(DumpCheck, WarnsOfInterruptionsAndNamesABoxWithoutMessages) {
  std::vector<std::pair<std::string, TStatusKind>> shown;
  ReportCheck(Check({MayBeLostMarkLine}), TStatusSide::In,
              [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
                shown.emplace_back(text, kind);
              });
  const std::vector<std::pair<std::string, TStatusKind>> expected{
      {"line 1: may be incomplete: the MIDI system was interrupted here while receiving",
       TStatusKind::Warning},
      {"the box holds no MIDI messages", TStatusKind::Plain},
      {"0 messages, no MIDI messages; 1 place that may be incomplete: line 1", TStatusKind::Plain}};
  EXPECT_EQ(shown, expected);
}

TEST(DamageMark, IsACommentThatSaysInputWasLostOrMayBeMissing) {
  constexpr TDumpMark Damage = TDumpMark::Damage;
  constexpr TDumpMark None = TDumpMark::None;
  const std::pair<const char*, TDumpMark> cases[] = {
      {"; damaged: 1024 bytes lost", Damage},
      {"// gap of 12 bytes", Damage},
      {"# Lost input", Damage},
      {"F0 41 10 ; cut here", Damage},
      {";; INCOMPLETE", Damage},
      {"; 12 bytes lost", None},
      {"// type here MIDI messages", None},
      {"F0 41 10 F7", None},
      {"lost", None},
      {"; gaps", None},
      {"; !! input lost here: 2048 bytes could not be kept", Damage},
      {"  ; !! the message above is incomplete: its end never came", Damage},
      {"; !? input may be missing here: the MIDI system was interrupted", TDumpMark::Interruption},
      {" ; !? lost: the MIDI system was interrupted", TDumpMark::Interruption},
  };
  for (const auto& [line, mark] : cases)
    EXPECT_EQ(DumpMarkOf(line), mark) << line;
}

} // namespace
} // namespace pelrow
