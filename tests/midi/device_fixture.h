// A MIDI input and output over the loopback backend, with the test thread playing
// the UI thread: it runs the posted data notices and collects the events.
#pragma once

#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_service.h"

#include "midi_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pelrow::test {

class DeviceFixture : public ::testing::Test {
protected:
  void OpenInput() {
    FInput.SetDeviceID(0);
    FInput.Open();
    FInput.Start();
  }
  void OpenOutput() {
    FOutput.SetDeviceID(0);
    FOutput.Open();
  }
  // Installs the handler that takes every waiting event, as the main window does.
  void CollectEvents() {
    FInput.OnMidiData = [this](TMidiInput& input) {
      while (input.EventCount() > 0)
        if (auto event = input.GetEvent()) {
          FLongTotal += static_cast<size_t>(event->Length);
          FEvents.push_back(std::move(event));
        }
    };
  }
  bool RunUntilEvents(size_t count) {
    return FPoster.RunUntil([&] { return FEvents.size() >= count; });
  }
  void Inject(const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(FService.InjectInput(LoopbackPortName, bytes));
  }
  // All long data received so far, in order.
  std::vector<uint8_t> LongBytes() const {
    std::vector<uint8_t> bytes;
    for (const auto& event : FEvents)
      bytes.insert(bytes.end(), event->Data.get(), event->Data.get() + event->Length);
    return bytes;
  }

  TLoopbackMidiService FService;
  TQueuedPoster FPoster;
  TMidiInput FInput{FService, FPoster};
  TMidiOutput FOutput{FService};
  std::vector<std::unique_ptr<TMyMidiEvent>> FEvents;
  size_t FLongTotal = 0;
};

} // namespace pelrow::test
