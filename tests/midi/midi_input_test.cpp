// The input device over the loopback backend: filters, long data in pieces, the
// receive ring's overflow and recovery, handler dispatch, close, and no loss when
// the UI thread keeps up.
#include "device_fixture.h"

#include <atomic>
#include <string>
#include <thread>

namespace pelrow {
namespace {

using Input = test::DeviceFixture;
using test::WaitFor;

TEST_F(Input, RealTimeFiltersDropOnlyTheBareByteTheyGovern) {
  CollectEvents();
  OpenInput();
  // Defaults: Active Sensing dropped, Timing Clock kept. The note is a sentinel.
  Inject({0xFE, 0xF8, 0x90, 0x3C, 0x40});
  ASSERT_TRUE(RunUntilEvents(2));
  FInput.SetActiveSensing(true);
  FInput.SetTimingClock(false);
  Inject({0xFE, 0xF8, 0x80, 0x3C, 0x00});
  ASSERT_TRUE(RunUntilEvents(4));
  std::vector<uint8_t> statuses;
  for (const auto& event : FEvents)
    statuses.push_back(event->Status);
  EXPECT_EQ(statuses, (std::vector<uint8_t>{0xF8, 0x90, 0xFE, 0x80}));
}

TEST_F(Input, SysExOnlyDropsShortMessagesButKeepsSysEx) {
  CollectEvents();
  OpenInput();
  FInput.SetSysExOnly(true);
  // The SysEx comes last: once it is in, the short messages before it were seen.
  Inject({0x90, 0x3C, 0x40, 0xF8, 0xC0, 0x01, 0xF0, 0x43, 0xF7});
  ASSERT_TRUE(RunUntilEvents(1));
  FInput.SetSysExOnly(false);
  Inject({0xC0, 0x02});
  ASSERT_TRUE(RunUntilEvents(2));
  EXPECT_EQ(FEvents[0]->Length, 3);
  EXPECT_EQ(FEvents[1]->Status, 0xC0);
  EXPECT_EQ(FEvents[1]->Data1, 0x02);
}

// The settings dialog and the menu change the filters on the UI thread while the
// service thread reads them for every message: no torn state, and a message sent
// once the churn is over is filtered by the final settings.
TEST_F(Input, FiltersChangedWhileDataFlowsTakeEffectWithoutARace) {
  CollectEvents();
  OpenInput();
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const std::vector<uint8_t> burst = {0xFE, 0xF8, 0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7};
    while (!stop)
      FService.InjectInput(LoopbackPortName, burst);
  });
  for (int round = 0; round < 2000; ++round) {
    FInput.SetActiveSensing(round % 2 == 0);
    FInput.SetTimingClock(round % 3 == 0);
    FInput.SetSysExOnly(round % 5 == 0);
    if (round % 7 == 0)
      FInput.SetShortFilter([](TMidiInput&, uint32_t, bool& skip) { skip = false; });
    else if (round % 7 == 1)
      FInput.SetShortFilter(nullptr);
    FPoster.RunUntil([&] { return FPoster.Waiting() == 0; });
    FEvents.clear();
  }
  stop = true;
  sender.join();
  FInput.SetActiveSensing(false);
  FInput.SetTimingClock(false);
  FInput.SetSysExOnly(false);
  FInput.SetShortFilter(nullptr);
  // Input is taken in order: once this marker is in, the churn's data is too.
  Inject({0xC0, 0x01});
  ASSERT_TRUE(FPoster.RunUntil([&] {
    return !FEvents.empty() && FEvents.back()->Status == 0xC0 && FEvents.back()->Data1 == 0x01;
  }));
  FEvents.clear();
  Inject({0xFE, 0xF8, 0xC0, 0x02});
  ASSERT_TRUE(RunUntilEvents(1));
  ASSERT_EQ(FEvents.size(), 1u);
  EXPECT_EQ(FEvents[0]->Status, 0xC0);
}

TEST_F(Input, ASysExLongerThanABufferArrivesInPiecesMarkedAsContinuations) {
  CollectEvents();
  OpenInput();
  const std::vector<uint8_t> sysex = test::SysEx(2500);
  Inject(sysex);
  ASSERT_TRUE(RunUntilEvents(3));
  ASSERT_EQ(FEvents.size(), 3u);
  EXPECT_EQ(FEvents[0]->Status, 0xF0);
  EXPECT_EQ(FEvents[1]->Status, 0xF7);
  EXPECT_EQ(FEvents[2]->Status, 0xF7);
  EXPECT_EQ(FEvents[0]->Length, 1024);
  EXPECT_EQ(FEvents[2]->Length, 2500 - 2048);
  EXPECT_EQ(LongBytes(), sysex);
}

TEST_F(Input, AFullRingDropsTheNextMessageMarksItsPlaceAndThenRecovers) {
  int overflows = 0;
  FInput.OnOverflow = [&](TMidiInput&) { ++overflows; };
  OpenInput();
  std::vector<uint8_t> notes;
  for (int i = 0; i < 1025; ++i)
    notes.insert(notes.end(), {0x90, static_cast<uint8_t>(i & 0x7F), 0x40});
  Inject(notes);
  ASSERT_TRUE(FPoster.RunUntil([&] { return overflows == 1; }));
  EXPECT_EQ(FInput.EventCount(), 1024);

  // Draining makes room again, first for the gap where the note was lost.
  CollectEvents();
  FInput.DispatchReceived();
  ASSERT_EQ(FEvents.size(), 1025u);
  EXPECT_EQ(FEvents[1024]->Gap, TInputGap::Lost);
  EXPECT_EQ(FEvents[1024]->LostBytes, 3u);
  Inject({0xB0, 0x07, 0x64});
  ASSERT_TRUE(RunUntilEvents(1026));
  EXPECT_EQ(FEvents[1023]->Data1, 1023 & 0x7F);
  EXPECT_EQ(FEvents[1025]->Status, 0xB0);
  EXPECT_EQ(overflows, 1);
}

// Every long buffer whose entry is not kept must go back to the service, or SysEx
// input stops after sixteen such losses.
TEST_F(Input, LongBuffersOfDroppedEntriesGoBackIntoCirculation) {
  std::atomic<int> longSeen{0};
  std::atomic<bool> skipLong{true};
  FInput.SetLongFilter([&](TMidiInput&, const uint8_t*, uint32_t, bool& skip) {
    ++longSeen;
    skip = skipLong;
  });
  OpenInput();
  for (int i = 0; i < 20; ++i)
    Inject(test::SysEx(10));
  ASSERT_TRUE(WaitFor([&] { return longSeen == 20; }));

  // Now the ring is full of short messages while SysEx keeps coming.
  skipLong = false;
  std::vector<uint8_t> notes;
  for (int i = 0; i < 1024; ++i)
    notes.insert(notes.end(), {0x90, 0x3C, 0x40});
  Inject(notes);
  ASSERT_TRUE(WaitFor([&] { return FInput.EventCount() == 1024; }));
  for (int i = 0; i < 20; ++i)
    Inject(test::SysEx(10));
  ASSERT_TRUE(WaitFor([&] { return longSeen == 40; }));

  // Empty the ring first: SysEx arriving while it is still full would be dropped.
  CollectEvents();
  ASSERT_TRUE(RunUntilEvents(1024));
  FEvents.clear();
  const std::vector<uint8_t> last = test::SysEx(3000);
  Inject(last);
  ASSERT_TRUE(FPoster.RunUntil([&] { return LongBytes() == last; }));
}

TEST_F(Input, AReceiveRingThatCannotBeAllocatedIsReportedAsOutOfMemory) {
  FInput.BufferCapacity = -1;
  FInput.SetDeviceID(0);
  try {
    FInput.Open();
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Out of memory.");
  }
  EXPECT_TRUE(FInput.IsClosed());
  FInput.BufferCapacity = 1024;
  OpenInput();
  EXPECT_TRUE(FInput.IsOpen());
}

TEST_F(Input, HandlersConsumeEntriesAndGetEventSkipsConsumedOnes) {
  std::vector<uint32_t> shorts;
  FInput.OnShortMessage = [&](TMidiInput&, uint32_t message) { shorts.push_back(message); };
  OpenInput();
  Inject({0xF0, 0x01, 0xF7, 0x90, 0x3C, 0x40});
  ASSERT_TRUE(FPoster.RunUntil([&] { return shorts.size() == 1; }));
  EXPECT_EQ(shorts[0], 0x403C90u);
  // The SysEx waits at the head, unhandled; the consumed note behind it stays.
  EXPECT_EQ(FInput.EventCount(), 2);
  const auto sysex = FInput.GetEvent();
  ASSERT_NE(sysex, nullptr);
  EXPECT_EQ(sysex->Length, 3);
  EXPECT_EQ(FInput.GetEvent(), nullptr);
  EXPECT_EQ(FInput.EventCount(), 0);

  std::vector<uint8_t> longData;
  FInput.OnLongMessage = [&](TMidiInput&, const uint8_t* data, uint32_t length) {
    longData.assign(data, data + length);
  };
  Inject({0xF0, 0x02, 0xF7});
  ASSERT_TRUE(FPoster.RunUntil([&] { return !longData.empty(); }));
  EXPECT_EQ(longData, (std::vector<uint8_t>{0xF0, 0x02, 0xF7}));
  EXPECT_EQ(FInput.EventCount(), 0);
}

TEST_F(Input, EventsTakenOutliveTheCloseAndWaitingOnesAreFreedByIt) {
  OpenInput();
  Inject(test::SysEx(100));
  Inject({0x90, 0x3C, 0x40, 0xF0, 0x05, 0xF7});
  ASSERT_TRUE(WaitFor([&] { return FInput.EventCount() == 3; }));
  // A dispatch without handlers copies the waiting long data out.
  FPoster.RunUntil([&] { return FPoster.Waiting() == 0; });
  auto taken = FInput.GetEvent();
  ASSERT_NE(taken, nullptr);
  FInput.Stop();
  FInput.Close();
  EXPECT_EQ(FInput.EventCount(), 0);
  EXPECT_EQ(FInput.GetEvent(), nullptr);
  EXPECT_FALSE(FInput.IsStarted());
  EXPECT_EQ(std::vector<uint8_t>(taken->Data.get(), taken->Data.get() + taken->Length),
            test::SysEx(100));
  // A notice still queued from before the close does nothing.
  FPoster.RunUntil([&] { return FPoster.Waiting() == 0; });
}

TEST_F(Input, A2MBSysExBurstArrivesCompleteWhileTheUiThreadDrains) {
  CollectEvents();
  OpenInput();
  OpenOutput();
  const std::vector<uint8_t> sysex = test::SysEx(2 << 20);
  ASSERT_TRUE(FOutput.SendLong(sysex.data(), static_cast<int32_t>(sysex.size())));
  ASSERT_TRUE(FPoster.RunUntil([&] { return FLongTotal >= sysex.size(); }));
  EXPECT_EQ(LongBytes(), sysex);
  EXPECT_EQ(FEvents.size(), sysex.size() / 1024);
}

// What the device hands out where its ring ran full: every message kept is whole
// or ends at a gap that says how much was lost, and nothing after a gap finishes
// the message the gap cut. The ring is kept small; the UI thread takes nothing
// until all that was injected was handed on (by Stop, or until that many SysEx
// pieces were seen while the message is still under way), then takes everything,
// and the second part arrives while it keeps up.
struct TRingCase {
  const char* Name;
  int32_t Capacity;
  std::vector<uint8_t> First;
  int PiecesFirst; // 0: Stop hands on the first part
  std::vector<uint8_t> Then;
  std::vector<std::string> Events;
};

std::string EventText(const TMyMidiEvent& event) {
  if (event.Gap != TInputGap::None)
    return event.Gap == TInputGap::Lost ? "lost " + std::to_string(event.LostBytes) : "maybe";
  if (event.Length == 0) {
    const uint8_t bytes[3] = {event.Status, event.Data1, event.Data2};
    return "short" + test::HexText(bytes, size_t(MessageLength(event)));
  }
  const bool ends = event.Data[size_t(event.Length) - 1] == 0xF7;
  return "long " + std::to_string(event.Length) + (ends ? " F7" : "") +
         (event.Damaged ? " damaged" : "");
}

std::vector<uint8_t> Joined(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> bytes;
  for (const auto& part : parts)
    bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

TEST_F(Input, AFullRingLeavesAGapAtItsPlaceAndNeverSplicesAMessage) {
  const std::vector<uint8_t> note = {0x90, 0x3C, 0x40}, small = {0xF0, 0x02, 0xF7};
  std::vector<uint8_t> unfinished = test::SysEx(2049);
  unfinished.pop_back(); // two full pieces, no F7 yet
  const TRingCase cases[] = {
      {"a SysEx that finds the ring full is lost whole, and so is what follows it",
       2, Joined({note, note, test::SysEx(2500), small}), 0, small,
       {"short 90 3C 40", "short 90 3C 40", "lost 2503", "long 3 F7"}},
      {"the message whose later piece was lost ends at the gap",
       2, Joined({note, test::SysEx(1500)}), 0, small,
       {"short 90 3C 40", "long 1024", "lost 476", "long 3 F7"}},
      {"once the ring has room the rest of the cut message is still not kept",
       2, Joined({note, unfinished}), 2, Joined({{0x01, 0x02, 0xF7}, small}),
       {"short 90 3C 40", "long 1024", "lost 1024", "lost 3", "long 3 F7"}},
      {"short messages lost count their own length",
       2, Joined({note, note, note, {0xC0, 0x05}}), 0, {0xB0, 0x07, 0x64},
       {"short 90 3C 40", "short 90 3C 40", "lost 5", "short B0 07 64"}},
      {"a SysEx cut short by the sender stays marked as damaged",
       1024, {0xF0, 0x43, 0x12, 0x90, 0x3C, 0x40}, 0, {},
       {"long 3 damaged", "short 90 3C 40"}},
  };
  std::atomic<int> pieces{0};
  FInput.SetLongFilter([&](TMidiInput&, const uint8_t*, uint32_t, bool&) { ++pieces; });
  for (const TRingCase& ringCase : cases) {
    SCOPED_TRACE(ringCase.Name);
    FInput.Close();
    FEvents.clear();
    FInput.BufferCapacity = ringCase.Capacity;
    OpenInput();
    pieces = 0;
    Inject(ringCase.First);
    if (ringCase.PiecesFirst > 0) {
      ASSERT_TRUE(WaitFor([&] { return pieces == ringCase.PiecesFirst; }));
    } else {
      FInput.Stop(); // hands on everything injected
      FInput.Start();
    }
    CollectEvents();
    FInput.DispatchReceived();
    if (!ringCase.Then.empty()) {
      Inject(ringCase.Then);
      FInput.Stop();
      FPoster.RunUntil([&] { return FPoster.Waiting() == 0; });
      FInput.DispatchReceived();
    }
    std::vector<std::string> events;
    for (const auto& event : FEvents)
      events.push_back(EventText(*event));
    EXPECT_EQ(events, ringCase.Events);
    FInput.OnMidiData = nullptr;
  }
}

} // namespace
} // namespace pelrow
