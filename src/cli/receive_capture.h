// What receive and request keep of the input: every event as the window's In box
// shows it (the same hex lines, cut the same way, gaps marked by the same comment
// lines), handed to a line sink; what went missing; and the rules that end the
// capture: the input quiet for a while once something arrived, a number of
// complete messages, or a time limit.
#pragma once

#include "app/line_formatter.h"
#include "midi/midi_records.h"

#include <cstdint>
#include <string>

namespace pelrow::cli {

struct TCaptureLimits {
  uint32_t QuietMs = 0;   // 0: no end by quiet
  int Count = 0;          // 0: no end by count
  uint32_t TimeoutMs = 0; // 0: no end by time
};

enum class TCaptureEnd { Running, Quiet, Count, Timeout };

// The bytes an event stands for: its long data, or its short message.
int EventBytes(const TMyMidiEvent& event);

class TReceiveCapture {
public:
  // splitThreshold as SplitThreshold gives it (-1: cut at status bytes only).
  TReceiveCapture(const TCaptureLimits& limits, int splitThreshold, TAddLine addLine,
                  uint32_t startMs);

  // Writes the event's lines; false, keeping nothing, once the count is reached.
  bool Take(const TMyMidiEvent& event, uint32_t nowMs);

  // The program did not run for ms up to nowMs (stopped, or starved of the CPU):
  // input may have waited unseen in the MIDI system all along, so that time is
  // not quiet.
  void HeldUp(uint32_t ms, uint32_t nowMs);

  TCaptureEnd End(uint32_t nowMs) const;
  // How long nothing can end the capture unless input comes; UINT32_MAX for ever.
  uint32_t MsUntilEnd(uint32_t nowMs) const;

  bool Received() const { return FMessages > 0 || FBytes > 0; }
  uint64_t Bytes() const { return FBytes; }
  int Messages() const { return FMessages; }
  // The first failure of the formatter (out of memory, say); empty when none.
  const std::string& Failure() const { return FFailure; }
  // Input was certainly lost: LostBytes of it, exactly unless LossCounted is false
  // (then at least that many).
  bool Lost() const { return FLost; }
  uint64_t LostBytes() const { return FLostBytes; }
  bool LossCounted() const { return FLossCounted; }
  // The MIDI system was interrupted: input may be missing.
  bool MayBeLost() const { return FMayBeLost; }

private:
  TCaptureLimits FLimits;
  int FSplitThreshold;
  TAddLine FAddLine;
  uint32_t FStartMs;
  uint32_t FLastInputMs = 0;
  uint64_t FBytes = 0;
  int FMessages = 0;
  std::string FFailure;
  bool FLost = false;
  uint64_t FLostBytes = 0;
  bool FLossCounted = true;
  bool FMayBeLost = false;
};

} // namespace pelrow::cli
