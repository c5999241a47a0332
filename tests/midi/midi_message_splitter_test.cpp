// Cutting an outgoing byte stream into whole messages.
#include "midi/service/midi_message_splitter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace pelrow {
namespace {

using Bytes = std::vector<uint8_t>;

// Each part as "kind:HEX" with the SysEx flags, e.g. "sysex[start]:F0 01".
class MessageSplitter : public ::testing::Test {
protected:
  std::vector<std::string> Split(std::initializer_list<Bytes> calls) {
    std::vector<std::string> parts;
    const auto sink = [&](const TMidiPart& part) { parts.push_back(Describe(part)); };
    for (const Bytes& bytes : calls)
      FSplitter.Split(bytes.data(), bytes.size(), sink);
    return parts;
  }
  std::vector<std::string> Flush() {
    std::vector<std::string> parts;
    FSplitter.Flush([&](const TMidiPart& part) { parts.push_back(Describe(part)); });
    return parts;
  }

  static std::string Describe(const TMidiPart& part) {
    std::string text = part.Kind == TMidiPartKind::Short        ? "short"
                       : part.Kind == TMidiPartKind::Stray      ? "stray"
                       : part.Kind == TMidiPartKind::Incomplete ? "incomplete"
                                                                : "sysex";
    if (part.Kind == TMidiPartKind::SysEx)
      text += std::string("[") + (part.Starts ? "start" : "") + (part.Ends ? " end" : "") +
              (part.Cut ? " cut" : "") + "]";
    text += ":";
    for (size_t i = 0; i < part.Count; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", part.Data[i]);
      text += hex;
    }
    return text;
  }

  TMidiMessageSplitter FSplitter;
};

using Parts = std::vector<std::string>;

TEST_F(MessageSplitter, ExpandsRunningStatusAlsoAcrossCalls) {
  EXPECT_EQ(Split({{0x90, 0x3C, 0x40, 0x3E, 0x40}}), (Parts{"short:90 3C 40", "short:90 3E 40"}));
  EXPECT_EQ(Split({{0x90, 0x3C}, {0x40, 0x3E}, {0x40, 0xC0, 0x05, 0x06}}),
            (Parts{"short:90 3C 40", "short:90 3E 40", "short:C0 05", "short:C0 06"}));
}

TEST_F(MessageSplitter, SystemMessagesEndRunningStatusAndRealTimeDoesNot) {
  EXPECT_EQ(Split({{0x90, 0x3C, 0xF8, 0x40, 0x3E, 0x40, 0xF1, 0x10, 0x3E, 0x40, 0xF6}}),
            (Parts{"short:F8", "short:90 3C 40", "short:90 3E 40", "short:F1 10", "stray:3E 40",
                   "short:F6"}));
}

TEST_F(MessageSplitter, SysExSpreadOverCallsComesOutInRunsInOrder) {
  EXPECT_EQ(
      Split({{0xF0, 0x41, 0x10}, {0x42, 0x12, 0x00}, {0x7F, 0xF7, 0x90, 0x3C, 0x40}}),
      (Parts{"sysex[start]:F0 41 10", "sysex[]:42 12 00", "sysex[ end]:7F F7", "short:90 3C 40"}));
  EXPECT_FALSE(FSplitter.InSysEx());
}

TEST_F(MessageSplitter, RealTimeInsideASysExComesOutBetweenItsRuns) {
  EXPECT_EQ(Split({{0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7}}),
            (Parts{"sysex[start]:F0 01", "short:F8", "sysex[]:02", "short:FE", "sysex[ end]:F7"}));
}

TEST_F(MessageSplitter, AnotherStatusCutsASysExShortAlsoAtACallBoundary) {
  EXPECT_EQ(Split({{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x40}}),
            (Parts{"sysex[start end cut]:F0 01 02", "short:90 3C 40"}));
  EXPECT_EQ(Split({{0xF0, 0x01}, {0xF0, 0x02, 0xF7}}),
            (Parts{"sysex[start]:F0 01", "sysex[ end cut]:", "sysex[start end]:F0 02 F7"}));
}

TEST_F(MessageSplitter, BytesThatFormNoMessageAreHandedOnAsTheyAre) {
  // Data without a status, a lone F7, a message cut short by the next status.
  EXPECT_EQ(Split({{0x41, 0x10, 0x42}, {0xF7, 0x90, 0x3C, 0xC0, 0x05}}),
            (Parts{"stray:41 10 42", "stray:F7", "stray:90 3C", "short:C0 05"}));
  EXPECT_EQ(Split({{0xF2, 0x01}}), Parts{});
  EXPECT_EQ(Flush(), Parts{"incomplete:F2 01"});
  EXPECT_EQ(Split({{0x01}}), Parts{"stray:01"}) << "system common left no running status";
}

TEST_F(MessageSplitter, ResetForgetsAnOpenSysExAndRunningStatus) {
  Split({{0xF0, 0x01}});
  FSplitter.Reset();
  EXPECT_EQ(Split({{0x02, 0xF7}}), (Parts{"stray:02", "stray:F7"}));
  Split({{0x90, 0x3C, 0x40}});
  FSplitter.Reset();
  EXPECT_EQ(Split({{0x3E, 0x40}}), Parts{"stray:3E 40"});
}

} // namespace
} // namespace pelrow
