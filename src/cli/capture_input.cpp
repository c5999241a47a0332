// The input device of a capture.
#include "cli/capture_input.h"

#include <chrono>

namespace pelrow::cli {

TCaptureInput::TCaptureInput(TMidiService& service, const TCliOptions& options)
    : FInput(service, FPoster) {
  FInput.BufferCapacity = RingEntries;
  FInput.HeaderCount = InputBuffers;
  FInput.SetActiveSensing(options.ActiveSensing);
  FInput.SetTimingClock(options.Clock);
  FInput.SetSysExOnly(options.SysExOnly);
  FInput.OnDisconnected = [this](TMidiInput&) { FDisconnected = true; };
}

void TCaptureInput::Open(int index) {
  FInput.SetDeviceID(index);
  FInput.Open();
  FInput.Start();
}

void TCaptureInput::Wait(uint32_t ms) {
  if (ms > 0)
    FPoster.WaitAndRunPending(std::chrono::milliseconds(ms));
}

void TCaptureInput::TakeAll(const TTake& take) {
  FPoster.RunPending();
  while (std::unique_ptr<TMyMidiEvent> event = FInput.GetEvent())
    take(*event);
}

void TCaptureInput::Stop(const TTake& take) {
  FInput.Stop();
  TakeAll(take);
}

void TCaptureInput::Close() {
  FInput.Close();
}

std::string TCaptureInput::FailureText() const {
  return FInput.FailureText();
}

} // namespace pelrow::cli
