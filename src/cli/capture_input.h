// The input device as receive and request use it, on the command's own thread.
// Input that it or the MIDI system could not keep comes out as gap events at its
// place, with the bytes lost.
#pragma once

#include "cli/cli_options.h"
#include "midi/midi_input.h"
#include "support/queued_poster.h"

#include <cstdint>
#include <functional>

namespace pelrow::cli {

class TCaptureInput {
public:
  using TTake = std::function<void(const TMyMidiEvent& event)>;

  // More room than the device layer's defaults: the command may be busy (saving
  // a capture's lines, formatting a large message) while a dump comes in.
  static constexpr int32_t RingEntries = 8192;
  static constexpr int32_t InputBuffers = 64;

  // The filters of the options (System Exclusive only, Active Sensing, clock) act
  // in the device, as the window's do.
  TCaptureInput(TMidiService& service, const TCliOptions& options);

  // Raises the device's exception when it cannot be opened.
  void Open(int index);
  // Waits up to ms for input.
  void Wait(uint32_t ms);
  // Hands every waiting event to take.
  void TakeAll(const TTake& take);
  // Stops the device and takes what it still held.
  void Stop(const TTake& take);
  void Close();

  // The device failed for good (its MIDI system went away): the service's text
  // for it; empty while it works.
  std::string FailureText() const;
  // How long the MIDI system has read input, in ms; -1 where it always does.
  int64_t RunMs() const { return FInput.RunMs(); }
  // Something outside removed the connection to the source, or the source went away.
  bool Disconnected() const { return FDisconnected; }

private:
  TQueuedPoster FPoster;
  TMidiInput FInput;
  bool FDisconnected = false;
};

} // namespace pelrow::cli
