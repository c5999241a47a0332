// Message lengths, received-event records, device name matching, the open-device
// lists and device error messages.
#include "midi/midi_records.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(MidiRecords, StatusLengthFollowsTheHighNibbleForChannelAndLowNibbleForSystem) {
  const std::pair<uint8_t, int> cases[] = {{0x90, 3}, {0xC5, 2}, {0xD0, 2}, {0xE0, 3},
                                           {0xF0, 1}, {0xF1, 2}, {0xF2, 3}, {0xF3, 2},
                                           {0xF7, 1}, {0xFE, 1}, {0x45, 0}, {0x7F, 0}};
  for (const auto& [status, length] : cases)
    EXPECT_EQ(StatusLength(status), length) << std::hex << int{status};
}

TEST(MidiRecords, MessageLengthPrefersTheLongDataLength) {
  TMyMidiEvent longEvent;
  longEvent.Status = 0x90;
  longEvent.Length = 200;
  EXPECT_EQ(MessageLength(longEvent), 200);
  EXPECT_EQ(MessageLength(*TMyMidiEvent::FromShort(0xD0, 0)), 2);
}

TEST(MidiRecords, ShortEventsUnpackStatusAndDataBytes) {
  const auto event = TMyMidiEvent::FromShort(PackShortMessage(0x90, 0x3C, 0x40), 77);
  EXPECT_EQ(PackShortMessage(0x90, 0x3C, 0x40), 0x403C90u);
  EXPECT_EQ(event->Status, 0x90);
  EXPECT_EQ(event->Data1, 0x3C);
  EXPECT_EQ(event->Data2, 0x40);
  EXPECT_EQ(event->Timestamp, 77u);
  EXPECT_EQ(event->Length, 0);
  EXPECT_EQ(event->Data, nullptr);
}

TEST(MidiRecords, LongEventStatusTellsAStartFromALaterPiece) {
  const uint8_t start[] = {0xF0, 0x43, 0x10};
  const uint8_t later[] = {0x43, 0x10, 0xF7};
  const auto first = TMyMidiEvent::FromLong(start, 3, 0);
  const auto continuation = TMyMidiEvent::FromLong(later, 3, 0);
  const auto empty = TMyMidiEvent::FromLong(nullptr, 0, 0);
  EXPECT_EQ(first->Status, 0xF0);
  EXPECT_EQ(continuation->Status, 0xF7);
  EXPECT_EQ(empty->Status, 0xF0);
  EXPECT_EQ(empty->Data, nullptr);
  ASSERT_EQ(continuation->Length, 3);
  EXPECT_EQ(continuation->Data[2], 0xF7);
  EXPECT_EQ(continuation->Data1, 0);
}

TEST(MidiRecords, SameDeviceNameIgnoresCaseAndBlanksOnly) {
  EXPECT_TRUE(SameDeviceName("Synth Port 2", "synthport2"));
  EXPECT_TRUE(SameDeviceName(" Pelrow  Loopback ", "PELROWLOOPBACK"));
  EXPECT_FALSE(SameDeviceName("Synth-Port 2", "Synth Port 2"));
  EXPECT_FALSE(SameDeviceName("Synth Port 2", "Synth Port 22"));
}

TEST(MidiRecords, OpenDeviceListsMatchWholeNamesIgnoringCasePerDirection) {
  OpenDeviceListAdd(MidiInputDirection, "LoopBe Internal MIDI");
  OpenDeviceListAdd(MidiInputDirection, "loopbe internal midi");
  EXPECT_TRUE(OpenDeviceListContains(MidiInputDirection, "LOOPBE INTERNAL MIDI"));
  EXPECT_FALSE(OpenDeviceListContains(MidiInputDirection, "LoopBe Internal"));
  EXPECT_FALSE(OpenDeviceListContains(MidiOutputDirection, "LoopBe Internal MIDI"));
  // Added once only, so one removal clears it.
  OpenDeviceListRemove(MidiInputDirection, "LoopBe Internal MIDI");
  EXPECT_FALSE(OpenDeviceListContains(MidiInputDirection, "LoopBe Internal MIDI"));
  OpenDeviceListRemove(MidiInputDirection, "not there");
}

TEST(MidiRecords, ErrorMessagesPutContextAndTextOnTwoLines) {
  EXPECT_EQ(MidiErrorMessage("Cannot open MIDI input device \"X\":", "busy"),
            "Cannot open MIDI input device \"X\":\r\nbusy");
  EXPECT_EQ(MidiErrorMessage("", "busy"), "busy");
  EXPECT_EQ(MidiErrorMessage("Context:", ""), "Context:\r\nUnspecified error");
}

} // namespace
} // namespace pelrow
