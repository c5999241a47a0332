// The events the ALSA output writes for its byte stream, and how it retries a full
// receiver. Runs without a sequencer: events are collected instead of sent.
#include "midi/service/alsa/alsa_event_writer.h"
#include "support/midi_collectors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace pelrow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Lines;
constexpr int OurPort = 5;
constexpr TAlsaAddress Chosen{128, 2};
constexpr size_t PieceBytes = 256; // what the output's writer hands over at a time

Bytes SysEx(size_t count) {
  Bytes bytes(count);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < count; ++i)
    bytes[i] = uint8_t((i * 7 + i / 128) & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

struct TSeen {
  snd_seq_event_type_t Type;
  Bytes Data; // a SysEx-type event's bytes, or the MIDI bytes of any other event
};

class AlsaEventWriter : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FWriter.Ready());
    ASSERT_EQ(snd_midi_event_new(16, &FDecoder), 0);
    snd_midi_event_no_status(FDecoder, 1);
  }
  void TearDown() override { snd_midi_event_free(FDecoder); }

  // Each long send goes to the writer in pieces, as the output's writer thread does.
  std::vector<TSeen> Write(const std::vector<Bytes>& sends) {
    FSeen.clear();
    for (const Bytes& send : sends)
      for (size_t at = 0; at < send.size(); at += PieceBytes)
        FWriter.Write(send.data() + at, std::min(PieceBytes, send.size() - at), Collect());
    return FSeen;
  }
  std::vector<TSeen> Flush() {
    FSeen.clear();
    FWriter.Flush(Collect());
    return FSeen;
  }

  TAlsaEventWriter::TSend Collect() {
    return [this](snd_seq_event_t& event) {
      // Every event goes to the chosen port alone, at once, from our port.
      EXPECT_EQ(event.dest.client, Chosen.Client);
      EXPECT_EQ(event.dest.port, Chosen.Port);
      EXPECT_EQ(event.queue, SND_SEQ_QUEUE_DIRECT);
      EXPECT_EQ(event.source.port, OurPort);
      TSeen seen{event.type, {}};
      if (event.type == SND_SEQ_EVENT_SYSEX) {
        const auto* data = static_cast<const uint8_t*>(event.data.ext.ptr);
        seen.Data.assign(data, data + event.data.ext.len);
      } else {
        unsigned char bytes[16];
        snd_midi_event_reset_decode(FDecoder);
        const long count = snd_midi_event_decode(FDecoder, bytes, sizeof bytes, &event);
        EXPECT_GT(count, 0) << "event type " << int(event.type);
        seen.Data.assign(bytes, bytes + std::max(count, 0L));
      }
      FSeen.push_back(std::move(seen));
    };
  }

  static Bytes SysExBytes(const std::vector<TSeen>& seen) {
    Bytes bytes;
    for (const TSeen& event : seen) {
      EXPECT_EQ(event.Type, SND_SEQ_EVENT_SYSEX);
      EXPECT_LE(event.Data.size(), PieceBytes);
      bytes.insert(bytes.end(), event.Data.begin(), event.Data.end());
    }
    return bytes;
  }

  TAlsaEventWriter FWriter{OurPort, Chosen};
  snd_midi_event_t* FDecoder = nullptr;
  std::vector<TSeen> FSeen;
};

TEST_F(AlsaEventWriter, SysExGoesOutWholeInSysExEventsWhateverTheLinesAreLike) {
  for (const size_t size : {size_t(6), size_t(1024), size_t(100 * 1024)}) {
    const Bytes sysEx = SysEx(size);
    EXPECT_EQ(SysExBytes(Write({sysEx})), sysEx) << size << " bytes in one send";
  }
  // A split dump: every line after the first starts with a data byte.
  const Bytes dump = SysEx(20 * 1024);
  const std::vector<TSeen> events = Write(Lines(dump, 32));
  EXPECT_EQ(events.size(), dump.size() / 32);
  EXPECT_EQ(SysExBytes(events), dump);
  EXPECT_TRUE(Flush().empty()) << "nothing was held back";
}

TEST_F(AlsaEventWriter, RunningStatusBecomesOneEventPerMessageAlsoAcrossSends) {
  const std::vector<TSeen> events = Write({{0x90, 0x3C, 0x40, 0x3E, 0x40}, {0x3C}, {0x00}});
  ASSERT_EQ(events.size(), 3u);
  for (const TSeen& event : events)
    EXPECT_EQ(event.Type, SND_SEQ_EVENT_NOTEON);
  EXPECT_EQ(events[0].Data, (Bytes{0x90, 0x3C, 0x40}));
  EXPECT_EQ(events[1].Data, (Bytes{0x90, 0x3E, 0x40}));
  EXPECT_EQ(events[2].Data, (Bytes{0x90, 0x3C, 0x00}));
}

TEST_F(AlsaEventWriter, ContinuationLinesStayPartOfTheirSysEx) {
  const std::vector<TSeen> events =
      Write({{0xF0, 0x41, 0x10, 0x42, 0x12}, {0x00, 0x7F, 0x00, 0x00}, {0x01, 0x7F, 0xF7}});
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(SysExBytes(events),
            (Bytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0x00, 0x7F, 0x00, 0x00, 0x01, 0x7F, 0xF7}));
  EXPECT_EQ(events[1].Data, (Bytes{0x00, 0x7F, 0x00, 0x00}));
}

TEST_F(AlsaEventWriter, RealTimeBytesInsideASysExGoOutBetweenItsPieces) {
  const std::vector<TSeen> events = Write({{0xF0, 0x01, 0x02, 0xF8, 0x03, 0xFE, 0xF7}});
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].Data, (Bytes{0xF0, 0x01, 0x02}));
  EXPECT_EQ(events[1].Type, SND_SEQ_EVENT_CLOCK);
  EXPECT_EQ(events[2].Data, Bytes{0x03});
  EXPECT_EQ(events[3].Type, SND_SEQ_EVENT_SENSING);
  EXPECT_EQ(events[4].Data, Bytes{0xF7});
  EXPECT_EQ(events[4].Type, SND_SEQ_EVENT_SYSEX);
}

TEST_F(AlsaEventWriter, BytesThatFormNoMessageGoOutAsTheyAre) {
  // An unterminated SysEx cut by the next line's status.
  std::vector<TSeen> events = Write({{0xF0, 0x41, 0x10}, {0x90, 0x3C, 0x40}});
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Type, SND_SEQ_EVENT_SYSEX);
  EXPECT_EQ(events[0].Data, (Bytes{0xF0, 0x41, 0x10}));
  EXPECT_EQ(events[1].Type, SND_SEQ_EVENT_NOTEON);

  // Data with no status before it, a lone F7, undefined status bytes, a message cut
  // short by the next status: each as a raw SysEx-type event, in place.
  Write({{0xF1, 0x10}}); // system common ends running status
  events = Write({{0x41, 0x10}, {0xF7, 0xF4, 0xFD, 0xB0, 0x07, 0xC0, 0x05}});
  Bytes raw;
  for (const TSeen& event : events)
    raw.insert(raw.end(), event.Data.begin(), event.Data.end());
  EXPECT_EQ(raw, (Bytes{0x41, 0x10, 0xF7, 0xF4, 0xFD, 0xB0, 0x07, 0xC0, 0x05}));
  for (size_t i = 0; i + 1 < events.size(); ++i)
    EXPECT_EQ(events[i].Type, SND_SEQ_EVENT_SYSEX) << i;
  EXPECT_EQ(events.back().Type, SND_SEQ_EVENT_PGMCHANGE);

  // A message still missing its last byte is held, and flushed as its bytes.
  EXPECT_TRUE(Write({{0xE0, 0x00}}).empty());
  events = Flush();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Type, SND_SEQ_EVENT_SYSEX);
  EXPECT_EQ(events[0].Data, (Bytes{0xE0, 0x00}));
}

// A short message split over two sends with a quiet pause between them: what was
// flushed is followed on the cable by exactly the bytes sent after it, so the
// receiver puts the message together again.
TEST_F(AlsaEventWriter, DataAfterAFlushedUnfinishedMessageGoesOnAsTheBytesSent) {
  const auto wire = [](const std::vector<TSeen>& events) {
    Bytes bytes;
    for (const TSeen& event : events)
      bytes.insert(bytes.end(), event.Data.begin(), event.Data.end());
    return bytes;
  };
  EXPECT_TRUE(Write({{0x90, 0x3C}}).empty());
  Bytes sent = wire(Flush());
  const Bytes after = wire(Write({{0x40, 0x3E, 0x40}}));
  sent.insert(sent.end(), after.begin(), after.end());
  EXPECT_EQ(sent, (Bytes{0x90, 0x3C, 0x40, 0x3E, 0x40}));
  EXPECT_TRUE(Flush().empty()) << "nothing is left waiting";

  // A flush with nothing unfinished keeps running status.
  Write({{0x90, 0x3C, 0x40}});
  EXPECT_TRUE(Flush().empty());
  const std::vector<TSeen> events = Write({{0x3E, 0x40}});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Type, SND_SEQ_EVENT_NOTEON);
  EXPECT_EQ(events[0].Data, (Bytes{0x90, 0x3E, 0x40}));
}

TEST(AlsaDelivery, OnlyAFullReceiverIsTriedAgain) {
  std::vector<int> results;
  std::vector<long> pauses;
  bool keepWaiting = true;
  const auto deliver = [&] {
    size_t next = 0;
    pauses.clear();
    return DeliverEvent([&] { return next < results.size() ? results[next++] : 0; },
                        [&](std::chrono::microseconds pause) {
                          pauses.push_back(long(pause.count()));
                          return keepWaiting;
                        });
  };
  results = {-EAGAIN, -EAGAIN, 0};
  EXPECT_EQ(deliver(), TAlsaDelivery::Sent);
  EXPECT_EQ(pauses, (std::vector<long>{1000, 2000}));
  // An event larger than the receiver's pool never fits: no second attempt, which
  // would also reach again whoever took the first.
  results = {-ENOMEM, 0};
  EXPECT_EQ(deliver(), TAlsaDelivery::Refused);
  EXPECT_TRUE(pauses.empty());
  results = {-ENOENT, 0};
  EXPECT_EQ(deliver(), TAlsaDelivery::Refused);
  keepWaiting = false; // a reset
  results = {-EAGAIN, 0};
  EXPECT_EQ(deliver(), TAlsaDelivery::GaveUp);
}

} // namespace
} // namespace pelrow
