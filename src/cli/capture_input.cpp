// The input device of a capture and its loss accounting.
#include "cli/capture_input.h"

#include "cli/receive_capture.h"

#include <chrono>

namespace pelrow::cli {

TCaptureInput::TCaptureInput(TLossCountingService& service, const TCliOptions& options)
    : FService(service), FInput(service, FPoster) {
  FInput.BufferCapacity = RingEntries;
  FInput.HeaderCount = InputBuffers;
  FInput.SetActiveSensing(options.ActiveSensing);
  FInput.SetTimingClock(options.Clock);
  FInput.SetSysExOnly(options.SysExOnly);
  FInput.SetShortFilter([this](TMidiInput&, uint32_t message, bool&) {
    FSeenBytes.fetch_add(static_cast<uint64_t>(StatusLength(PackedStatus(message))));
  });
  FInput.SetLongFilter([this](TMidiInput&, const uint8_t*, uint32_t length, bool&) {
    FSeenBytes.fetch_add(length);
  });
  FInput.OnOverflow = [this](TMidiInput&) { FOverflowed = true; };
}

void TCaptureInput::Open(int index) {
  FInput.SetDeviceID(index);
  FInput.Open();
  FInput.Start();
}

void TCaptureInput::Pump(uint32_t ms, const TTake& take) {
  if (ms > 0)
    FPoster.WaitAndRunPending(std::chrono::milliseconds(ms));
  FPoster.RunPending();
  while (std::unique_ptr<TMyMidiEvent> event = FInput.GetEvent()) {
    FTakenBytes += static_cast<uint64_t>(EventBytes(*event));
    take(*event);
  }
}

void TCaptureInput::Stop(const TTake& take) {
  FInput.Stop();
  Pump(0, take);
}

void TCaptureInput::Close() {
  FInput.Close();
}

std::string TCaptureInput::FailureText() const {
  const TMidiResult failure = FService.InputFailure();
  if (failure == MidiOk)
    return {};
  std::string text;
  if (FService.InErrorText(failure, text) != MidiOk)
    text = "error " + std::to_string(failure);
  return text;
}

bool TCaptureInput::Lost() const {
  return FOverflowed || FService.LossNotices() > 0 || FSeenBytes.load() != FTakenBytes;
}

uint64_t TCaptureInput::LostBytes() const {
  const uint64_t seen = FSeenBytes.load();
  return FService.LostBytes() + (seen > FTakenBytes ? seen - FTakenBytes : 0);
}

bool TCaptureInput::LossCounted() const {
  return FService.LostBytes() > 0 || FService.LossNotices() == 0;
}

} // namespace pelrow::cli
