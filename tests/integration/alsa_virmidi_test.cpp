// The ALSA backend against a virtual raw MIDI port: what an output of ours sends
// comes out of the raw device as the bytes a MIDI cable would carry, and bytes
// written into the raw device, as a synthesizer sends its dump, reach an input of
// ours whole and in order.
#include "alsa_fixture.h"

#include "midi/service/midi_message_length.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::string Hex(const Bytes& bytes) {
  std::string text;
  char one[4];
  for (size_t i = 0; i < bytes.size() && i < 64; ++i) {
    std::snprintf(one, sizeof one, "%02X ", bytes[i]);
    text += one;
  }
  return text;
}

// Where two streams first differ, both in hex.
std::string Around(const Bytes& got, const Bytes& want) {
  const auto differ = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  const size_t at = size_t(differ.first - got.begin());
  const size_t from = at > 16 ? at - 16 : 0;
  const auto window = [&](const Bytes& bytes) {
    return Hex(Bytes(bytes.begin() + long(std::min(from, bytes.size())),
                     bytes.begin() + long(std::min(from + 48, bytes.size()))));
  };
  return "\n  got  from " + std::to_string(from) + ": " + window(got) + "\n  want from " +
         std::to_string(from) + ": " + window(want);
}

Bytes Joined(const std::vector<Bytes>& parts) {
  Bytes bytes;
  for (const Bytes& part : parts)
    bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

// The same messages with running status written out: the kernel leaves it out
// again on the cable where it can, which means the same to any receiver. The
// status stays in force from one piece of the cable's bytes to the next.
class TExpander {
public:
  Bytes operator()(const Bytes& bytes) {
    Bytes out;
    for (const uint8_t byte : bytes) {
      if (byte >= 0xF8) {
        out.push_back(byte);
        continue;
      }
      if (byte & 0x80) {
        FStatus = byte < 0xF0 ? byte : 0;
        FLeft = ShortMessageLength(byte) - 1;
      } else if (FStatus != 0 && FLeft == 0) {
        out.push_back(FStatus);
        FLeft = ShortMessageLength(FStatus) - 1;
      }
      if (!(byte & 0x80) && FLeft > 0)
        --FLeft;
      out.push_back(byte);
    }
    return out;
  }

private:
  uint8_t FStatus = 0;
  int FLeft = 0;
};

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
  TExpander expander;
  Bytes cable;
  // What comes out until it means want's bytes; the cable may carry fewer.
  const auto read = [&](size_t want) {
    cable.clear();
    Bytes meaning;
    while (meaning.size() < want) {
      const Bytes more = FRaw->Read(1, WaitMs);
      if (more.empty())
        break;
      cable.insert(cable.end(), more.begin(), more.end());
      const Bytes expanded = expander(more);
      meaning.insert(meaning.end(), expanded.begin(), expanded.end());
    }
    return meaning;
  };
  for (const TCableCase& one : cases) {
    for (const Bytes& send : one.Sends)
      ASSERT_EQ(FSender.SendLong(*FPort, send), MidiOk) << one.What;
    EXPECT_EQ(Difference(read(one.Cable.size()), one.Cable), "") << one.What << ": " << Hex(cable);
    EXPECT_TRUE(FSender.WaitForCompletions(WaitMs)) << one.What;
  }
  // Short messages take their own path, in order with the long ones around them.
  ASSERT_EQ(FPort->ShortMsg(0x403C90), MidiOk);
  ASSERT_EQ(FSender.SendLong(*FPort, {0xF0, 0x7D, 0xF7}), MidiOk);
  ASSERT_EQ(FPort->ShortMsg(0x05C0), MidiOk);
  EXPECT_EQ(Difference(read(8), {0x90, 0x3C, 0x40, 0xF0, 0x7D, 0xF7, 0xC0, 0x05}), "")
      << Hex(cable);
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
      {"a 2 MB dump of 1 KB messages as fast as our reader takes it",
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
    const Bytes arrived(got.begin() + long(start), got.end());
    const std::string difference = Difference(arrived, one.Cable);
    EXPECT_EQ(difference, "") << one.What << Around(arrived, one.Cable);
    EXPECT_EQ(FCollector.Overflows(), 0) << one.What;
  }
}

} // namespace
} // namespace pelrow::testing
