// The input device as receive and request use it, on the command's own thread,
// with the counts that tell whether everything it received was taken: the device
// filters see every message it goes on to store, so a message seen and never taken
// out was lost in its ring, and the service's overflow notices count what the
// backend lost before that.
#pragma once

#include "cli/cli_options.h"
#include "cli/loss_counting_service.h"
#include "midi/midi_input.h"
#include "support/queued_poster.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace pelrow::cli {

class TCaptureInput {
public:
  using TTake = std::function<void(const TMyMidiEvent& event)>;

  // More room than the device layer's defaults: the command may be busy writing
  // to a slow pipe while a dump comes in.
  static constexpr int32_t RingEntries = 8192;
  static constexpr int32_t InputBuffers = 64;

  // The filters of the options (System Exclusive only, Active Sensing, clock) act
  // in the device, as the window's do.
  TCaptureInput(TLossCountingService& service, const TCliOptions& options);

  // Raises the device's exception when it cannot be opened.
  void Open(int index);
  // Waits up to ms for input, then hands every waiting event to take.
  void Pump(uint32_t ms, const TTake& take);
  // Stops the device and takes what it still held.
  void Stop(const TTake& take);
  void Close();

  bool Lost() const;
  // The bytes known to be lost; exact unless a backend could not count its loss.
  uint64_t LostBytes() const;
  // No loss came without its byte count.
  bool LossCounted() const;
  // The device failed for good (its MIDI system went away): the service's text
  // for it; empty while it works.
  std::string FailureText() const;
  // Bytes the device has stored for taking, so far.
  uint64_t SeenBytes() const { return FSeenBytes.load(); }

private:
  TLossCountingService& FService;
  TQueuedPoster FPoster;
  TMidiInput FInput;
  std::atomic<uint64_t> FSeenBytes{0};
  uint64_t FTakenBytes = 0;
  bool FOverflowed = false;
};

} // namespace pelrow::cli
