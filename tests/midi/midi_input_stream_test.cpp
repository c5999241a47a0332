// The byte-stream input port that the backends share: message parsing, SysEx into
// the caller's buffers, buffering while no buffer is free, overflow, stop and reset.
#include "midi/service/midi_input_stream.h"

#include "midi_test_support.h"
#include "support/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {
namespace {

using test::WaitFor;

struct TReceived {
  TMidiInCode Code;
  uint32_t Message;
  std::vector<uint8_t> Bytes;
  uint32_t Timestamp;
  bool Cut = false;
};

class InputStream : public ::testing::Test {
protected:
  void SetUp() override { Open(TMidiInputStream::DefaultLimitBytes); }

  void Open(size_t limit) {
    FStream.reset();
    FStream = std::make_unique<TMidiInputStream>(
        [this](const TMidiInNotice& notice) {
          if (FGate)
            FGate();
          std::lock_guard<std::mutex> lock(FMutex);
          TReceived received{notice.Code, notice.Message, {}, notice.Timestamp, notice.Cut};
          if (notice.Buffer != nullptr)
            received.Bytes.assign(notice.Buffer->Data,
                                  notice.Buffer->Data + notice.Buffer->BytesRecorded);
          FReceived.push_back(std::move(received));
          if (FRequeue && notice.Buffer != nullptr)
            FStream->AddBuffer(*notice.Buffer);
        },
        limit);
    FStream->Start();
  }

  void AddBuffers(size_t count, uint32_t size) {
    for (size_t i = 0; i < count; ++i) {
      FMemory.push_back(std::make_unique<uint8_t[]>(size));
      auto buffer = std::make_unique<TMidiBuffer>();
      buffer->Data = FMemory.back().get();
      buffer->BufferLength = size;
      ASSERT_EQ(FStream->AddBuffer(*buffer), MidiOk);
      FBuffers.push_back(std::move(buffer));
    }
  }

  void Feed(const std::vector<uint8_t>& bytes) { FStream->Feed(bytes.data(), bytes.size()); }

  std::vector<TReceived> WaitForCount(size_t count) {
    EXPECT_TRUE(WaitFor([&] {
      std::lock_guard<std::mutex> lock(FMutex);
      return FReceived.size() >= count;
    }));
    std::lock_guard<std::mutex> lock(FMutex);
    return FReceived;
  }

  // Set before the stream is fed: run at the start of every callback, and whether
  // handed-back buffers go straight back to the stream (a caller that keeps up).
  std::function<void()> FGate;
  std::mutex FGateLock;
  bool FRequeue = false;
  std::mutex FMutex;
  std::vector<TReceived> FReceived;
  std::vector<std::unique_ptr<uint8_t[]>> FMemory;
  std::vector<std::unique_ptr<TMidiBuffer>> FBuffers;
  std::unique_ptr<TMidiInputStream> FStream;
};

TEST_F(InputStream, ParsesRunningStatusSystemCommonAndRealTimeInsideMessages) {
  // Note on with running status, a clock byte in the middle of a message, song
  // position, tune request, and a stray data byte after the system message.
  Feed({0x90, 0x3C, 0x40, 0x3E, 0xF8, 0x41, 0xF2, 0x01, 0x02, 0xF6, 0x33});
  const auto received = WaitForCount(6);
  ASSERT_EQ(received.size(), 6u);
  EXPECT_EQ(received[0].Message, 0x403C90u);
  EXPECT_EQ(received[1].Message, 0xF8u);
  EXPECT_EQ(received[2].Message, 0x413E90u);
  EXPECT_EQ(received[3].Message, 0x0201F2u);
  EXPECT_EQ(received[4].Message, 0xF6u);
  EXPECT_EQ(received[5].Code, TMidiInCode::Error);
  EXPECT_EQ(received[5].Message, 0x33u);
}

TEST_F(InputStream, SplitsSysExOverFullBuffersAndEndsABufferAtF7) {
  AddBuffers(4, 8);
  // 12-byte SysEx with a clock byte inside, then a 3-byte one, fed in odd pieces.
  const std::vector<uint8_t> bytes = {0xF0, 1, 2, 3,  0xF8, 4,    5,    6,
                                      7,    8, 9, 10, 0xF7, 0xF0, 0x11, 0xF7};
  for (size_t i = 0; i < bytes.size(); i += 3)
    FStream->Feed(bytes.data() + i, std::min<size_t>(3, bytes.size() - i));
  const auto received = WaitForCount(4);
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0].Message, 0xF8u);
  EXPECT_EQ(received[1].Bytes, (std::vector<uint8_t>{0xF0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(received[2].Bytes, (std::vector<uint8_t>{8, 9, 10, 0xF7}));
  EXPECT_EQ(received[3].Bytes, (std::vector<uint8_t>{0xF0, 0x11, 0xF7}));
  EXPECT_EQ(received[3].Code, TMidiInCode::LongData);
}

TEST_F(InputStream, ASysExCutShortByAStatusByteComesBackAsLongError) {
  AddBuffers(2, 64);
  Feed({0xF0, 0x43, 0x12, 0x90, 0x3C, 0x40});
  const auto received = WaitForCount(2);
  EXPECT_EQ(received[0].Code, TMidiInCode::LongError);
  EXPECT_EQ(received[0].Bytes, (std::vector<uint8_t>{0xF0, 0x43, 0x12}));
  EXPECT_EQ(received[1].Message, 0x403C90u);
}

TEST_F(InputStream, KeepsInputInOrderUntilABufferIsAdded) {
  Feed({0xF0, 1, 2, 3, 0xF7, 0xC0, 0x05});
  Feed({0xB0, 0x07, 0x64});
  AddBuffers(1, 16);
  const auto received = WaitForCount(3);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].Bytes, (std::vector<uint8_t>{0xF0, 1, 2, 3, 0xF7}));
  EXPECT_EQ(received[1].Message, 0x05C0u);
  EXPECT_EQ(received[2].Message, 0x6407B0u);
}

TEST_F(InputStream, ReportsOverflowBeyondItsBoundAndSkipsToTheNextStatus) {
  Open(16);
  const std::vector<uint8_t> start = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Feed(start);                                      // waits: no buffer yet
  Feed({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0xF7}); // beyond the bound: lost
  Feed({0x90, 0x3C, 0x40});
  AddBuffers(2, 64);
  const auto received = WaitForCount(3);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].Code, TMidiInCode::LongError);
  EXPECT_EQ(received[0].Bytes, start);
  EXPECT_EQ(received[1].Code, TMidiInCode::Overflow);
  EXPECT_EQ(received[1].Message, 7u) << "the refused bytes are counted";
  EXPECT_EQ(received[2].Message, 0x403C90u);
}

// Where input goes missing the stream says so at that place, cuts only the
// message under way, and never lets the rest of a cut message (its F7 above all)
// pass as a message of its own, nor joins it to what came before. An interruption
// that no input came near leaves no mark. Steps are hex bytes, "lost N" (a backend
// lost N bytes; 0: it does not know), "overran N" (the device's input dropped N
// bytes), "xrun" or "xrun SPAN" (input went unread for SPAN ms up to now), "unplug",
// or "@MS" (what follows happens MS ms after the start).
struct TGapCase {
  const char* Name;
  std::vector<std::string> Steps;
  std::vector<std::string> Notices;
};

std::string NoticeText(const TReceived& received) {
  const uint8_t packed[3] = {uint8_t(received.Message), uint8_t(received.Message >> 8),
                             uint8_t(received.Message >> 16)};
  const std::string bytes = test::HexText(received.Bytes.data(), received.Bytes.size());
  switch (received.Code) {
  case TMidiInCode::LongData:
    return "long" + bytes;
  case TMidiInCode::LongError:
    return "cut" + bytes;
  case TMidiInCode::Overflow:
    return "lost " + std::to_string(received.Message);
  case TMidiInCode::Overrun:
    return "overrun " + std::to_string(received.Message);
  case TMidiInCode::Interrupted:
    return std::string("xrun") +
           (received.Message > 0 ? " skipped " + std::to_string(received.Message) : "") +
           (received.Cut ? " cut" : "");
  case TMidiInCode::Disconnected:
    return "unplugged";
  case TMidiInCode::Error:
    return "error" + test::HexText(packed, 1);
  default:
    return "short" + test::HexText(packed, size_t(ShortMessageLength(packed[0])));
  }
}

TEST_F(InputStream, MarksEveryGapWhereItIsAndCutsOnlyTheMessageUnderWay) {
  // A SysEx that fills one 64-byte buffer exactly, with no F7.
  static constexpr char FullBuffer[] =
      "F0 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 "
      "11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 "
      "11 11 11 11";
  const TGapCase cases[] = {
      {"a loss inside a SysEx cuts it; its rest and F7 count as lost",
       {"F0 01 02", "lost 10", "03 04 F7 90 3C 40"},
       {"cut F0 01 02", "lost 13", "short 90 3C 40"}},
      {"a loss between messages cuts nothing",
       {"F0 01 F7", "lost 4", "F0 02 F7"},
       {"long F0 01 F7", "lost 4", "long F0 02 F7"}},
      {"a loss nobody counted stays uncounted",
       {"F0 01", "lost 0", "02 F7 C0 05"},
       {"cut F0 01", "lost 0", "short C0 05"}},
      {"running status does not carry over a loss; reported once input stops",
       {"90 3C 40 3E", "lost 2", "40 3C 40"},
       {"short 90 3C 40", "lost 5"}},
      {"the device's overrun is told as such, with the rest of the message it cut",
       {"F0 01 02", "overran 10", "03 04 F7 90 3C 40"},
       {"cut F0 01 02", "overrun 13", "short 90 3C 40"}},
      {"an overrun next to a loss of another cause: each is told with its own count",
       {"F0 01", "overran 5", "lost 3", "02 F7", "C0 05", "lost 4", "overran 6", "F7"},
       {"cut F0 01", "overrun 5", "lost 5", "short C0 05", "lost 4", "overrun 7"}},
      {"real-time bytes inside the skipped rest still come",
       {"F0 01", "lost 3", "02 F8 03 F7"},
       {"cut F0 01", "short F8", "lost 6"}},
      {"an xrun inside a SysEx cuts it; its rest and F7 are skipped, never joined to it",
       {"F0 01 02", "xrun", "03 F7 90 3C 40"},
       {"cut F0 01 02", "xrun skipped 2", "short 90 3C 40"}},
      {"an xrun after a SysEx's last full buffer says that it cut the message",
       {FullBuffer, "xrun", "12 F7 F0 02 F7"},
       {"long " + std::string(FullBuffer), "xrun skipped 2 cut", "long F0 02 F7"}},
      {"the rest of a message after an xrun between messages is skipped",
       {"F0 01 F7", "xrun", "05 06 F7 F0 02 F7"},
       {"long F0 01 F7", "xrun skipped 3", "long F0 02 F7"}},
      {"a short message under way is cut too; running status does not carry over",
       {"90 3C", "xrun", "40 90 3C 40"},
       {"xrun skipped 3", "short 90 3C 40"}},
      {"real-time bytes inside the skipped rest still come",
       {"F0 01", "xrun", "02 F8 03 F7"},
       {"cut F0 01", "short F8", "xrun skipped 3"}},
      {"an xrun is told once input has paused, with what it skipped so far",
       {"F0 01", "xrun", "02 03"},
       {"cut F0 01", "xrun skipped 2"}},
      {"xruns with no input between them are one mark",
       {"F0 01 F7", "xrun", "xrun", "xrun", "F0 02 F7"},
       {"long F0 01 F7", "xrun", "long F0 02 F7"}},
      {"an xrun a while after input is marked",
       {"@0", "F0 01 F7", "@900", "xrun", "@4000", "F0 02 F7"},
       {"long F0 01 F7", "xrun", "long F0 02 F7"}},
      {"an xrun shortly before input is marked",
       {"@0", "F0 01 F7", "@3000", "xrun", "@3900", "F0 02 F7"},
       {"long F0 01 F7", "xrun", "long F0 02 F7"}},
      {"an xrun that no input came near leaves no mark",
       {"@0", "F0 01 F7", "@3000", "xrun", "xrun", "@5000", "F0 02 F7"},
       {"long F0 01 F7", "long F0 02 F7"}},
      {"a long hold-up that began soon after input is marked, however long it lasted",
       {"@0", "F0 01 F7", "@5000", "xrun 4800", "@9000", "F0 02 F7"},
       {"long F0 01 F7", "xrun", "long F0 02 F7"}},
      {"an xrun right after a loss is part of it",
       {"F0 01", "lost 4", "xrun", "02 F7 F0 03 F7"},
       {"cut F0 01", "lost 6", "long F0 03 F7"}},
      {"an unplug cuts the SysEx; its rest is no loss but is not a message either",
       {"F0 01", "unplug", "02 F7 90 3C 40"},
       {"cut F0 01", "unplugged", "short 90 3C 40"}},
      {"a stray F7 without any gap is handed on as before",
       {"F7 90 3C 40"},
       {"error F7", "short 90 3C 40"}},
  };
  for (const TGapCase& gapCase : cases) {
    SCOPED_TRACE(gapCase.Name);
    Open(TMidiInputStream::DefaultLimitBytes);
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FReceived.clear();
    }
    // The stream's thread waits in its first notice until every step is in, so
    // that no pause in the input falls between the steps.
    std::atomic<bool> fed{false};
    FGate = [&] {
      while (!fed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    FRequeue = true;
    AddBuffers(4, 64);
    const uint32_t start = TimeGetTime();
    uint32_t now = start;
    for (const std::string& step : gapCase.Steps) {
      if (step[0] == '@')
        now = start + uint32_t(std::stoul(step.substr(1)));
      else if (step.rfind("lost ", 0) == 0)
        FStream->FeedLost(now, std::stoull(step.substr(5)));
      else if (step.rfind("overran ", 0) == 0)
        FStream->FeedOverrun(now, std::stoull(step.substr(8)));
      else if (step.rfind("xrun", 0) == 0)
        FStream->FeedInterrupted(now, step.size() > 5 ? uint32_t(std::stoul(step.substr(5))) : 0);
      else if (step == "unplug")
        FStream->FeedDisconnected(now);
      else {
        const std::vector<uint8_t> bytes = test::HexBytes(step);
        FStream->Feed(bytes.data(), bytes.size(), now);
      }
    }
    fed = true;
    std::vector<std::string> notices;
    for (const TReceived& received : WaitForCount(gapCase.Notices.size()))
      notices.push_back(NoticeText(received));
    EXPECT_EQ(notices, gapCase.Notices);
    FRequeue = false;
    FStream.reset(); // before the gate's flag goes
    FGate = nullptr;
  }
}

TEST_F(InputStream, TimeStampsCountFromStartAndALongBufferTakesItsFirstBytesTime) {
  AddBuffers(1, 64);
  const uint32_t now = TimeGetTime();
  FStream->Feed(std::vector<uint8_t>{0xF0, 0x01}.data(), 2, now + 5000);
  FStream->Feed(std::vector<uint8_t>{0x02, 0xF7}.data(), 2, now + 9000);
  FStream->Feed(std::vector<uint8_t>{0xFE}.data(), 1, now + 9500);
  const auto received = WaitForCount(2);
  // Start came a moment before now, so each stamp is at least the offset given.
  ASSERT_EQ(received.size(), 2u);
  EXPECT_GE(received[0].Timestamp, 5000u);
  EXPECT_LT(received[0].Timestamp, 9000u);
  EXPECT_GE(received[1].Timestamp, 9500u);
}

TEST_F(InputStream, StopHandsBackAPartFilledBufferAndResetHandsBackAll) {
  AddBuffers(3, 64);
  // The clock byte comes out once the SysEx bytes before it are in the buffer.
  Feed({0xF0, 0x01, 0x02, 0xF8});
  WaitForCount(1);
  EXPECT_EQ(FStream->Stop(), MidiOk);
  auto received = WaitForCount(2);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].Bytes, (std::vector<uint8_t>{0xF0, 0x01, 0x02}));
  // Input after Stop is ignored; Reset hands back the two empty buffers.
  Feed({0x90, 0x3C, 0x40});
  EXPECT_EQ(FStream->Reset(), MidiOk);
  received = WaitForCount(4);
  ASSERT_EQ(received.size(), 4u);
  EXPECT_TRUE(received[3].Bytes.empty());
  for (const auto& buffer : FBuffers)
    EXPECT_TRUE(buffer->Flags & MidiBufferDone);
}

TEST_F(InputStream, StopDeliversWhatHadArrivedBeforeIt) {
  // The stream's thread is held in a callback while more input arrives and Stop is
  // asked for; that input was there before Stop and must not be thrown away.
  std::unique_lock<std::mutex> held(FGateLock);
  FGate = [this] { std::lock_guard<std::mutex> pass(FGateLock); };
  FRequeue = true;
  AddBuffers(2, 256);
  Feed({0xF8});
  const std::vector<uint8_t> later = test::SysEx(1000);
  Feed(later);
  Feed({0x90, 0x3C, 0x40});
  std::thread stopper([&] { FStream->Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let Stop be asked for
  held.unlock();
  stopper.join();
  std::lock_guard<std::mutex> lock(FMutex);
  std::vector<uint8_t> sysEx;
  for (const TReceived& received : FReceived) {
    EXPECT_NE(received.Code, TMidiInCode::Overflow);
    sysEx.insert(sysEx.end(), received.Bytes.begin(), received.Bytes.end());
  }
  EXPECT_EQ(sysEx, later);
  ASSERT_FALSE(FReceived.empty());
  EXPECT_EQ(FReceived.back().Message, 0x403C90u);
}

TEST_F(InputStream, StopReportsHowMuchFoundNoBuffer) {
  AddBuffers(2, 64);
  Feed(test::SysEx(300));
  WaitForCount(2); // both buffers filled and kept by the caller
  EXPECT_EQ(FStream->Stop(), MidiOk);
  const auto received = WaitForCount(3);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[2].Code, TMidiInCode::Overflow);
  EXPECT_EQ(received[2].Message, 300u - 128u);
}

} // namespace
} // namespace pelrow
