// The loopback backend as a MIDI service: its ports, routing, hot-plug and the
// failures it can be asked for; and the start-up choice that combines it with a
// platform backend.
#include "midi/service/combined_service.h"
#include "midi/service/loopback/loopback_service.h"
#include "midi/service/midi_backend_choice.h"

#include "midi_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace pelrow {
namespace {

using test::WaitFor;

TEST(LoopbackService, ListsOnePortPerDirectionAndRefusesOtherIndexes) {
  TLoopbackMidiService service;
  std::string name = "unchanged";
  EXPECT_EQ(service.InputCount(), 1);
  EXPECT_EQ(service.OutputCount(), 1);
  EXPECT_EQ(service.InputName(0, name), MidiOk);
  EXPECT_EQ(name, "Pelrow Loopback");
  EXPECT_NE(service.OutputName(1, name), MidiOk);
  EXPECT_NE(service.InputName(-1, name), MidiOk);
  EXPECT_EQ(name, "Pelrow Loopback");
  std::unique_ptr<TMidiOutPort> out;
  EXPECT_EQ(service.OpenOutput(1, {}, out), MidiErrBadDeviceId);
  EXPECT_EQ(out, nullptr);
}

TEST(LoopbackService, HotPlugShiftsIndexesAndNotifiesEachChange) {
  TLoopbackMidiService service;
  std::atomic<int> notices{0};
  service.SetOnDevicesChanged([&] { ++notices; });
  service.AddInput("Synth A", 0);
  std::string name;
  EXPECT_EQ(service.InputCount(), 2);
  service.InputName(1, name);
  EXPECT_EQ(name, "Pelrow Loopback");
  EXPECT_TRUE(service.RemoveInput("Synth A"));
  EXPECT_FALSE(service.RemoveInput("Synth A"));
  EXPECT_EQ(service.InputCount(), 1);
  service.InputName(0, name);
  EXPECT_EQ(name, "Pelrow Loopback");
  EXPECT_EQ(notices, 2);
}

TEST(LoopbackService, AnInputOpensOnceAndOpenFailuresCanBeRequested) {
  TLoopbackMidiService service;
  std::unique_ptr<TMidiInPort> first, second;
  ASSERT_EQ(service.OpenInput(0, {}, first), MidiOk);
  EXPECT_EQ(service.OpenInput(0, {}, second), MidiErrAllocated);
  first.reset();
  service.FailOpen(TLoopbackDirection::Input, LoopbackPortName, MidiErrNoMemory);
  EXPECT_EQ(service.OpenInput(0, {}, second), MidiErrNoMemory);
  service.FailOpen(TLoopbackDirection::Input, LoopbackPortName, MidiOk);
  EXPECT_EQ(service.OpenInput(0, {}, second), MidiOk);
  // A port that refuses us reads differently from one that went away.
  service.FailOpen(TLoopbackDirection::Output, LoopbackPortName, MidiErrAccessDenied);
  std::unique_ptr<TMidiOutPort> out;
  const TMidiResult refused = service.OpenOutput(0, {}, out);
  std::string refusedText, goneText;
  EXPECT_EQ(service.OutErrorText(refused, refusedText), MidiOk);
  EXPECT_EQ(service.OutErrorText(MidiErrNoDevice, goneText), MidiOk);
  EXPECT_NE(refusedText, goneText);
}

// A platform backend and the loopback, combined as at start-up; the platform's
// ports are plugged in and out between a count and the calls that follow it.
TEST(CombinedService, AnIndexNamesAndOpensTheSamePortUntilTheNextCount) {
  auto platformPart = std::make_unique<TLoopbackMidiService>();
  auto loopbackPart = std::make_unique<TLoopbackMidiService>();
  TLoopbackMidiService& platform = *platformPart;
  TLoopbackMidiService& loopback = *loopbackPart;
  platform.RemoveInput(LoopbackPortName);
  platform.AddInput("Synth A");
  std::vector<std::unique_ptr<TMidiService>> parts;
  parts.push_back(std::move(platformPart));
  parts.push_back(std::move(loopbackPart));
  TCombinedMidiService combined(std::move(parts));

  ASSERT_EQ(combined.InputCount(), 2);
  platform.AddInput("Synth B", 0);
  platform.AddInput("Synth C");
  std::string name;
  ASSERT_EQ(combined.InputName(0, name), MidiOk);
  EXPECT_EQ(name, "Synth A");
  ASSERT_EQ(combined.InputName(1, name), MidiOk);
  EXPECT_EQ(name, "Pelrow Loopback");
  EXPECT_EQ(combined.InputName(2, name), MidiErrBadDeviceId);
  std::unique_ptr<TMidiInPort> port;
  ASSERT_EQ(combined.OpenInput(
                1, [](const TMidiInNotice&) {}, port),
            MidiOk);
  port->Start();
  EXPECT_TRUE(loopback.InjectInput(LoopbackPortName, {0xF8})) << "the loopback input is open";
  port.reset();

  // A port unplugged since the count is no longer connected; none other opens instead.
  platform.RemoveInput("Synth A");
  EXPECT_EQ(combined.OpenInput(0, {}, port), MidiErrNoDevice);
  EXPECT_EQ(port, nullptr);

  ASSERT_EQ(combined.InputCount(), 3);
  std::vector<std::string> names(3);
  for (int i = 0; i < 3; ++i)
    combined.InputName(i, names[size_t(i)]);
  EXPECT_EQ(names, (std::vector<std::string>{"Synth B", "Synth C", "Pelrow Loopback"}));

  // Outputs likewise.
  ASSERT_EQ(combined.OutputCount(), 2);
  platform.RemoveOutput(LoopbackPortName);
  std::unique_ptr<TMidiOutPort> out;
  EXPECT_EQ(combined.OpenOutput(0, {}, out), MidiErrNoDevice);
  ASSERT_EQ(combined.OutputCount(), 1);
  ASSERT_EQ(combined.OpenOutput(0, {}, out), MidiOk);
}

class LoopbackRoute : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(FService.OpenInput(
                  0,
                  [this](const TMidiInNotice& notice) {
                    std::lock_guard<std::mutex> lock(FMutex);
                    if (notice.Buffer != nullptr) {
                      FLong.insert(FLong.end(), notice.Buffer->Data,
                                   notice.Buffer->Data + notice.Buffer->BytesRecorded);
                    } else {
                      FShort.push_back(notice.Message);
                      FShortAfter.push_back(FLong.size());
                    }
                    if (notice.Buffer != nullptr && notice.Buffer->BytesRecorded > 0)
                      FIn->AddBuffer(*notice.Buffer);
                  },
                  FIn),
              MidiOk);
    FInBuffer.Data = FInMemory;
    FInBuffer.BufferLength = sizeof FInMemory;
    FIn->AddBuffer(FInBuffer);
    FIn->Start();
    ASSERT_EQ(FService.OpenOutput(
                  0, [this](TMidiBuffer& done) { FDone.push_back(&done); }, FOut),
              MidiOk);
  }

  size_t LongBytes() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLong.size();
  }

  TLoopbackMidiService FService;
  std::mutex FMutex;
  std::vector<uint32_t> FShort;
  std::vector<size_t> FShortAfter; // long bytes that had arrived before each short one
  std::vector<uint8_t> FLong;
  std::vector<TMidiBuffer*> FDone; // written on the output's thread only
  uint8_t FInMemory[64] = {};
  TMidiBuffer FInBuffer;
  std::unique_ptr<TMidiInPort> FIn;
  std::unique_ptr<TMidiOutPort> FOut;
};

TEST_F(LoopbackRoute, WhatGoesOutComesBackInInOrderAndLongBuffersComplete) {
  std::vector<uint8_t> sysex = test::SysEx(200);
  TMidiBuffer out{sysex.data(), static_cast<uint32_t>(sysex.size())};
  EXPECT_EQ(FOut->ShortMsg(0x403C90), MidiOk);
  EXPECT_EQ(FOut->LongMsg(out), MidiOk);
  EXPECT_EQ(FOut->ShortMsg(0), MidiErrInvalidParam);
  ASSERT_TRUE(WaitFor([&] { return LongBytes() == sysex.size(); }));
  FOut->Reset();
  std::lock_guard<std::mutex> lock(FMutex);
  EXPECT_EQ(FShort, std::vector<uint32_t>{0x403C90});
  EXPECT_EQ(FLong, sysex);
  ASSERT_EQ(FDone.size(), 1u);
  EXPECT_EQ(FDone[0], &out);
}

TEST_F(LoopbackRoute, AShortMessageNeverOvertakesLongDataSentBeforeIt) {
  std::vector<uint8_t> first = test::SysEx(600), second = test::SysEx(100);
  TMidiBuffer firstOut{first.data(), static_cast<uint32_t>(first.size())};
  TMidiBuffer secondOut{second.data(), static_cast<uint32_t>(second.size())};
  ASSERT_EQ(FOut->LongMsg(firstOut), MidiOk);
  ASSERT_EQ(FOut->ShortMsg(0x403C90), MidiOk);
  ASSERT_EQ(FOut->LongMsg(secondOut), MidiOk);
  ASSERT_EQ(FOut->ShortMsg(0x003C80), MidiOk);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(FMutex);
    return FShort.size() == 2;
  }));
  std::lock_guard<std::mutex> lock(FMutex);
  EXPECT_EQ(FShort, (std::vector<uint32_t>{0x403C90, 0x003C80}));
  EXPECT_EQ(FShortAfter, (std::vector<size_t>{600, 700}));
}

TEST_F(LoopbackRoute, ResetCompletesLongBuffersThatAStalledOutputHolds) {
  uint8_t data[3][4] = {{0xF0, 1, 2, 0xF7}, {0xF0, 3, 4, 0xF7}, {0xF0, 5, 6, 0xF7}};
  TMidiBuffer buffers[3];
  FService.StallOutput(LoopbackPortName, true);
  for (int i = 0; i < 3; ++i) {
    buffers[i] = TMidiBuffer{data[i], 4};
    ASSERT_EQ(FOut->LongMsg(buffers[i]), MidiOk);
  }
  EXPECT_EQ(FOut->Reset(), MidiOk);
  EXPECT_EQ(FDone, (std::vector<TMidiBuffer*>{&buffers[0], &buffers[1], &buffers[2]}));
  EXPECT_EQ(LongBytes(), 0u);
}

TEST_F(LoopbackRoute, RemovedOrRefusingOutputsSayWhyAndDeliverNothing) {
  FService.RefuseSends(LoopbackPortName, MidiErrNotReady);
  EXPECT_EQ(FOut->ShortMsg(0x90), MidiErrNotReady);
  FService.RefuseSends(LoopbackPortName, MidiOk);
  FService.RemoveOutput(LoopbackPortName);
  EXPECT_EQ(FOut->ShortMsg(0x403C90), MidiErrNoDevice);
  FService.AddOutput(LoopbackPortName);
  EXPECT_EQ(FOut->ShortMsg(0xFE), MidiOk);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(FMutex);
    return !FShort.empty();
  }));
  std::lock_guard<std::mutex> lock(FMutex);
  EXPECT_EQ(FShort, std::vector<uint32_t>{0xFE});
}

TEST_F(LoopbackRoute, InjectedInputArrivesAsFromADeviceAndNeedsAnOpenInput) {
  const std::vector<uint8_t> sysex = test::SysEx(600);
  EXPECT_TRUE(FService.InjectInput(LoopbackPortName, sysex, 1000000));
  ASSERT_TRUE(WaitFor([&] { return LongBytes() == sysex.size(); }));
  EXPECT_FALSE(FService.InjectInput("Synth A", {0x90, 0x3C, 0x40}));
  std::lock_guard<std::mutex> lock(FMutex);
  EXPECT_EQ(FLong, sysex);
}

// Platform backends for the start-up choice: loopback services stand in for them.
struct TFakePlatform {
  bool Sequencer = false;
  bool AlsaWorks = false;
  bool JackWorks = false;
  std::vector<std::string> Tried;

  TMidiBackendFactories Factories() {
    const auto factory = [this](const char* name, bool works) {
      return [this, name, works](std::string& failure) -> std::unique_ptr<TMidiService> {
        Tried.push_back(name);
        if (!works) {
          failure = "not running";
          return nullptr;
        }
        auto service = std::make_unique<TLoopbackMidiService>();
        service->RemoveInput(LoopbackPortName);
        service->AddInput(std::string(name) + " In");
        return service;
      };
    };
    return {
        [this] { return Sequencer; }, factory("ALSA", AlsaWorks), factory("JACK", JackWorks), {}};
  }
};

TEST(MidiBackendChoice, AutoPrefersTheSequencerThenJackAndAlwaysListsLoopbackLast) {
  TFakePlatform platform;
  platform.Sequencer = true;
  platform.JackWorks = true;
  TMidiServiceSetup setup = CreateMidiService(TMidiBackendKind::Auto, platform.Factories());
  EXPECT_EQ(platform.Tried, (std::vector<std::string>{"ALSA", "JACK"}));
  EXPECT_EQ(setup.Service->Name(), "Loopback + Loopback");
  ASSERT_EQ(setup.Service->InputCount(), 2);
  std::string name;
  setup.Service->InputName(0, name);
  EXPECT_EQ(name, "JACK In");
  setup.Service->InputName(1, name);
  EXPECT_EQ(name, "Pelrow Loopback");
  EXPECT_EQ(setup.Messages.front(), "Cannot use ALSA: not running");
  EXPECT_EQ(setup.Error, ""); // nobody asked for ALSA by name

  // Without the sequencer device ALSA is not tried at all.
  TFakePlatform noSequencer;
  TMidiServiceSetup none = CreateMidiService(TMidiBackendKind::Auto, noSequencer.Factories());
  EXPECT_EQ(noSequencer.Tried, std::vector<std::string>{"JACK"});
  // Finding nothing is the last word, the one the status line keeps.
  ASSERT_FALSE(none.Messages.empty());
  EXPECT_EQ(none.Messages.back().rfind("No MIDI system found", 0), 0u) << none.Messages.back();
  EXPECT_EQ(none.Error, "");
}

TEST(MidiBackendChoice, AForcedBackendThatFailsLeavesTheLoopbackPortsWithAMessage) {
  TFakePlatform platform;
  platform.JackWorks = true;
  TMidiServiceSetup setup = CreateMidiService(TMidiBackendKind::Alsa, platform.Factories());
  EXPECT_EQ(platform.Tried, std::vector<std::string>{"ALSA"});
  EXPECT_EQ(setup.Service->InputCount(), 1);
  ASSERT_NE(setup.Loopback, nullptr);
  // Asked for by name, its failure is an error for the user, apart from the notes.
  EXPECT_EQ(setup.Error, "Cannot use ALSA: not running");
  EXPECT_EQ(setup.Messages, std::vector<std::string>{"MIDI system: Loopback"});
  TMidiServiceSetup loopbackOnly =
      CreateMidiService(TMidiBackendKind::Loopback, platform.Factories());
  EXPECT_EQ(loopbackOnly.Messages, std::vector<std::string>{"MIDI system: Loopback"});
  EXPECT_EQ(loopbackOnly.Error, "");
}

} // namespace
} // namespace pelrow
