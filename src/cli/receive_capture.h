// What receive and request keep of the input: every event as the window's In box
// shows it (the same hex lines, cut the same way, gaps marked by the same comment
// lines), handed to a line sink; what went missing; and the rules that end the
// capture: the input quiet for a while once something arrived, nothing at all for
// a while, a number of complete messages, or a time limit.
#pragma once

#include "app/line_formatter.h"
#include "midi/midi_records.h"

#include <cstdint>
#include <string>

namespace pelrow::cli {

struct TCaptureLimits {
  uint32_t QuietMs = 0;   // 0: no end by quiet once input came
  uint32_t IdleMs = 0;    // 0: no end by silence counted from the start
  int Count = 0;          // 0: no end by count
  uint32_t TimeoutMs = 0; // 0: no end by time
  bool Timestamps = false; // a comment line with its time before every message
};

enum class TCaptureEnd { Running, Quiet, Idle, Count, Timeout };

// The bytes an event stands for: its long data, or its short message.
int EventBytes(const TMyMidiEvent& event);

// "; 12.345 s": the time of a message since the input started, as a comment line
// that the hex notation ignores.
std::string TimestampLine(uint32_t ms);

class TReceiveCapture {
public:
  // splitThreshold as SplitThreshold gives it (-1: cut at status bytes only).
  TReceiveCapture(const TCaptureLimits& limits, int splitThreshold, TAddLine addLine,
                  uint32_t startMs);

  // Writes the event's lines; false, keeping nothing, once the count is reached:
  // what comes after the last message asked for is neither kept nor lost.
  bool Take(const TMyMidiEvent& event, uint32_t nowMs);

  // The program did not run for ms up to nowMs (stopped, or starved of the CPU):
  // input may have waited unseen in the MIDI system all along, so that time is
  // not quiet, and it counts neither as idle nor towards the time limit.
  void HeldUp(uint32_t ms, uint32_t nowMs);
  // The MIDI system had run for runMs by nowMs, by its own count (-1: it always
  // runs). Time in which it stood still (a server starved of the CPU reads no
  // input) is not quiet either: the rest of a dump may wait in the source.
  void SystemRan(int64_t runMs, uint32_t nowMs);

  TCaptureEnd End(uint32_t nowMs) const;
  // How long nothing can end the capture unless input comes; UINT32_MAX for ever.
  uint32_t MsUntilEnd(uint32_t nowMs) const;

  bool Received() const { return FMessages > 0 || FBytes > 0; }
  uint64_t Bytes() const { return FBytes; }
  int Messages() const { return FMessages; }
  // The capture began in the middle of a message: its end (these bytes) was not
  // kept, since it is no message on its own.
  uint64_t CutAtStartBytes() const { return FCutAtStartBytes; }
  // The last message kept has no end: it was cut short, or its F7 has not come.
  bool LastMessageCut() const { return FOpenMessage || FLastDamaged; }
  bool LastMessageDamaged() const { return FLastDamaged; }
  // Marks a last message without end as such in the lines.
  void MarkLastMessageCut();
  // The first failure of the formatter (out of memory, say); empty when none.
  const std::string& Failure() const { return FFailure; }
  // Input was certainly lost: LostBytes of it, exactly unless LossCounted is false
  // (then at least that many).
  bool Lost() const { return FLost; }
  uint64_t LostBytes() const { return FLostBytes; }
  bool LossCounted() const { return FLossCounted; }
  // The device's own input overran: these bytes were lost (by its count), apart
  // from those above.
  uint64_t OverrunBytes() const { return FOverrunBytes; }
  // The MIDI system was interrupted while input came: input may be missing.
  bool MayBeLost() const { return FMayBeLost; }
  // Messages kept with a mark that they are incomplete (cut by another status byte
  // or by an interruption); the last one's missing end is told by LastMessageCut.
  uint64_t DamagedMessages() const { return FDamagedMessages; }

private:
  bool TakeCutStart(const TMyMidiEvent& event);
  void AddLines(const TMyMidiEvent& event);

  TCaptureLimits FLimits;
  int FSplitThreshold;
  TAddLine FAddLine;
  uint32_t FStartMs;     // moved on by the time the program was held up
  uint32_t FLastInputMs; // the start until input comes
  uint64_t FBytes = 0;
  int FMessages = 0;
  bool FBegun = false; // a message has started; stray bytes before it are a cut end
  uint64_t FCutAtStartBytes = 0;
  bool FOpenMessage = false; // a System Exclusive message waits for its F7
  bool FLastDamaged = false;
  std::string FFailure;
  bool FLost = false;
  uint64_t FLostBytes = 0;
  bool FLossCounted = true;
  uint64_t FOverrunBytes = 0;
  bool FMayBeLost = false;
  uint64_t FDamagedMessages = 0;
  // Where the count of the MIDI system's run time was last taken up, and when.
  bool FRunMarked = false;
  int64_t FRunMark = 0;
  uint32_t FRunMarkMs = 0;
};

} // namespace pelrow::cli
