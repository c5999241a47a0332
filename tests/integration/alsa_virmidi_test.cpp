// The ALSA backend against a virtual raw MIDI port: what an output of ours sends
// comes out of the raw device as the bytes a MIDI cable would carry, and bytes
// written into the raw device, as a synthesizer sends its dump, reach an input of
// ours whole and in order.
#include "alsa_fixture.h"

#include <algorithm>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Joined(const std::vector<Bytes>& parts) {
  Bytes bytes;
  for (const Bytes& part : parts)
    bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

std::vector<Bytes> Lines(const Bytes& bytes, size_t length) {
  std::vector<Bytes> lines;
  for (size_t at = 0; at < bytes.size(); at += length)
    lines.emplace_back(bytes.begin() + long(at),
                       bytes.begin() + long(std::min(bytes.size(), at + length)));
  return lines;
}

struct TCableCase {
  const char* What;
  std::vector<Bytes> Sends; // each a long buffer
  Bytes Cable;              // what comes out of the raw device
};

TEST_F(AlsaOutputTest, EveryMessageKindComesOutOfTheCableAsSent) {
  const Bytes dump = SysEx(4096, 7);
  const std::vector<TCableCase> cases = {
      {"channel messages",
       {{0x80, 0x3C, 0x00, 0x91, 0x3C, 0x40, 0xA2, 0x3C, 0x10, 0xB3, 0x07, 0x64},
        {0xC4, 0x05, 0xD5, 0x20, 0xE6, 0x00, 0x40}},
       {0x80, 0x3C, 0x00, 0x91, 0x3C, 0x40, 0xA2, 0x3C, 0x10, 0xB3, 0x07, 0x64, 0xC4, 0x05, 0xD5,
        0x20, 0xE6, 0x00, 0x40}},
      {"running status, also across buffers",
       {{0x90, 0x3C, 0x40, 0x3E, 0x40}, {0x3C}, {0x00, 0xC0, 0x01, 0x02}},
       {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40, 0x90, 0x3C, 0x00, 0xC0, 0x01, 0xC0, 0x02}},
      {"system common", {{0xF1, 0x10, 0xF2, 0x00, 0x08, 0xF3, 0x05, 0xF6}},
       {0xF1, 0x10, 0xF2, 0x00, 0x08, 0xF3, 0x05, 0xF6}},
      {"real time", {{0xF8, 0xFA, 0xFB, 0xFC, 0xFE}}, {0xF8, 0xFA, 0xFB, 0xFC, 0xFE}},
      {"real time inside a SysEx", {{0xF0, 0x01, 0x02, 0xF8, 0x03, 0xFE, 0xF7}},
       {0xF0, 0x01, 0x02, 0xF8, 0x03, 0xFE, 0xF7}},
      {"a SysEx over 32-byte lines", Lines(dump, 32), dump},
      {"a SysEx cut short by the next line's status", {{0xF0, 0x41, 0x10}, {0x90, 0x3C, 0x40}},
       {0xF0, 0x41, 0x10, 0x90, 0x3C, 0x40}},
  };
  for (const TCableCase& one : cases) {
    for (const Bytes& send : one.Sends)
      ASSERT_EQ(FSender.SendLong(*FPort, send), MidiOk) << one.What;
    EXPECT_EQ(Difference(FRaw->Read(one.Cable.size(), WaitMs), one.Cable), "") << one.What;
    EXPECT_TRUE(FSender.WaitForCompletions(WaitMs)) << one.What;
  }
  // Short messages take their own path, in order with the long ones around them.
  ASSERT_EQ(FPort->ShortMsg(0x403C90), MidiOk);
  ASSERT_EQ(FSender.SendLong(*FPort, {0xF0, 0x7D, 0xF7}), MidiOk);
  ASSERT_EQ(FPort->ShortMsg(0x05C0), MidiOk);
  EXPECT_EQ(Difference(FRaw->Read(8, WaitMs), {0x90, 0x3C, 0x40, 0xF0, 0x7D, 0xF7, 0xC0, 0x05}),
            "");
  EXPECT_EQ(FRaw->ReadUntilQuiet(200), Bytes{}) << "nothing more";
}

TEST_F(AlsaOutputTest, ClosingDuringASendCompletesEveryBufferAndStopsWithinAMessage) {
  const Bytes dump = SysExBurst(1024, 1024);
  for (const Bytes& message : Lines(dump, 1024))
    ASSERT_EQ(FSender.SendLong(*FPort, message), MidiOk);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = Clock::now();
  FPort.reset();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(FSender.Completed(), FSender.Sent());
  const Bytes cable = FRaw->ReadUntilQuiet(300);
  ASSERT_LE(cable.size(), dump.size());
  EXPECT_EQ(Difference(cable, Bytes(dump.begin(), dump.begin() + long(cable.size()))), "")
      << "what came out is the start of what was sent";
}

TEST_F(AlsaInputTest, WhatTheCableBringsArrivesByteExactAndInOrder) {
  const std::vector<TCableCase> cases = {
      {"short messages, running status expanded",
       {{0x90, 0x3C, 0x40, 0x3E, 0x40, 0xB0, 0x07, 0x64, 0xC0, 0x05, 0xF8, 0xE0, 0x00, 0x40, 0xF6}},
       {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40, 0xB0, 0x07, 0x64, 0xC0, 0x05, 0xF8, 0xE0, 0x00, 0x40,
        0xF6}},
      {"a 2 MB dump of 1 KB messages as fast as the device takes it",
       {TaggedBurst(0, 2048, 1024)},
       TaggedBurst(0, 2048, 1024)},
      {"one 100 KB SysEx, which the kernel splits into many events",
       {SysEx(100 * 1024, 9)},
       SysEx(100 * 1024, 9)},
  };
  Bytes expected;
  for (const TCableCase& one : cases) {
    ASSERT_TRUE(FRaw->Write(Joined(one.Sends))) << one.What;
    const size_t start = expected.size();
    expected.insert(expected.end(), one.Cable.begin(), one.Cable.end());
    const Bytes got = FCollector.WaitFor(expected.size(), BurstWaitMs);
    ASSERT_GE(got.size(), start) << one.What;
    EXPECT_EQ(Difference(Bytes(got.begin() + long(start), got.end()), one.Cable), "") << one.What;
    EXPECT_EQ(FCollector.Overflows(), 0) << one.What;
  }
}

} // namespace
} // namespace pelrow::testing
