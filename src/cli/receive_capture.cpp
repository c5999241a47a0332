// Keeping received events as hex lines, and knowing when to stop.
#include "cli/receive_capture.h"

#include "support/text_format.h"

#include <algorithm>
#include <climits>

namespace pelrow::cli {

namespace {
constexpr uint8_t EndOfExclusive = 0xF7;
constexpr uint8_t FirstRealTime = 0xF8;
constexpr const char* TextTimestampLine = "; %d.%s s";
// The MIDI system's run time moves in steps (a JACK server's periods); a lag
// behind the clock shorter than this is no stall.
constexpr int64_t StoodStillMs = 250;

// Milliseconds from now until due, 0 once it has passed.
uint32_t Remaining(uint32_t now, uint32_t from, uint32_t span) {
  const uint32_t elapsed = now - from;
  return elapsed >= span ? 0 : span - elapsed;
}

// A byte that can only continue a message: a data byte, or F7 without its F0.
bool IsStrayShort(const TMyMidiEvent& event) {
  return event.Length == 0 && (event.Status < 0x80 || event.Status == EndOfExclusive);
}
} // namespace

int EventBytes(const TMyMidiEvent& event) {
  return MessageLength(event);
}

std::string TimestampLine(uint32_t ms) {
  const std::string thousandths = std::to_string(1000 + ms % 1000).substr(1);
  return FormatText(TextTimestampLine, static_cast<unsigned long long>(ms / 1000),
                    thousandths.c_str());
}

TReceiveCapture::TReceiveCapture(const TCaptureLimits& limits, int splitThreshold, TAddLine addLine,
                                 uint32_t startMs)
    : FLimits(limits), FSplitThreshold(splitThreshold), FAddLine(std::move(addLine)),
      FStartMs(startMs), FLastInputMs(startMs) {}

// Until a message starts, bytes that can only continue one are the end of a
// message the source began before we listened.
bool TReceiveCapture::TakeCutStart(const TMyMidiEvent& event) {
  if (FBegun || event.Gap != TInputGap::None || (event.Length == 0 && event.Status >= FirstRealTime))
    return false;
  if (!IsStrayShort(event)) {
    FBegun = true;
    return false;
  }
  FCutAtStartBytes += 1;
  return true;
}

void TReceiveCapture::AddLines(const TMyMidiEvent& event) {
  const TShowStatus noteFailure = [this](const std::string& text, TStatusSide, TStatusKind, bool) {
    if (FFailure.empty())
      FFailure = text;
  };
  // A System Exclusive message comes in pieces; only its first carries the time.
  const bool startsMessage = event.Gap == TInputGap::None && !(event.Length > 0 && FOpenMessage);
  if (FLimits.Timestamps && startsMessage)
    FAddLine(TimestampLine(event.Timestamp));
  AddEventLines(event, FSplitThreshold, FAddLine, noteFailure);
}

bool TReceiveCapture::Take(const TMyMidiEvent& event, uint32_t nowMs) {
  if (FLimits.Count > 0 && FMessages >= FLimits.Count)
    return false;
  // A loss counts also after the last message that was kept.
  if (event.Gap == TInputGap::Lost) {
    FLost = true;
    FLostBytes += event.LostBytes;
    FLossCounted = FLossCounted && event.LostBytes > 0;
  }
  if (event.Gap == TInputGap::Overrun)
    FOverrunBytes += event.LostBytes;
  FMayBeLost = FMayBeLost || event.Gap == TInputGap::MayBeLost;
  // A gap that cut the message under way ends it as damaged.
  if (event.Gap != TInputGap::None && event.Damaged && FOpenMessage) {
    FOpenMessage = false;
    FLastDamaged = true;
    ++FDamagedMessages;
  }
  if (TakeCutStart(event)) {
    FLastInputMs = nowMs;
    return true;
  }
  AddLines(event);
  // A gap is no input: xruns every few periods must not keep a capture from ending.
  if (event.Gap != TInputGap::None)
    return true;
  // A System Exclusive message comes in pieces of one buffer each; it is complete
  // with the piece that ends in F7. Every short message is complete in itself.
  bool complete = MessageLength(event) > 0;
  if (event.Length > 0) {
    complete = event.Data[event.Length - 1] == EndOfExclusive;
    FOpenMessage = !complete && !event.Damaged;
    FLastDamaged = event.Damaged;
    FDamagedMessages += event.Damaged ? 1 : 0;
  } else if (event.Status < FirstRealTime) {
    FLastDamaged = false;
  }
  FBytes += static_cast<uint64_t>(EventBytes(event));
  if (complete)
    ++FMessages;
  FLastInputMs = nowMs;
  return true;
}

void TReceiveCapture::HeldUp(uint32_t ms, uint32_t nowMs) {
  // Input taken after the hold-up (in the same wait) already moved the last input
  // on; quiet then counts from it, and never from a time still to come.
  FLastInputMs += std::min(ms, nowMs - FLastInputMs);
  // Nor does the time limit count time in which no input could be taken.
  FStartMs += std::min(ms, nowMs - FStartMs);
  FRunMarked = false; // the system's time that stood still then is counted already
}

void TReceiveCapture::SystemRan(int64_t runMs, uint32_t nowMs) {
  if (runMs < 0)
    return;
  const int64_t stood = FRunMarked ? int64_t(nowMs - FRunMarkMs) - (runMs - FRunMark) : 0;
  // A small lag is kept until it grows or the system catches up.
  if (FRunMarked && stood > 0 && stood <= StoodStillMs)
    return;
  if (stood > StoodStillMs)
    HeldUp(uint32_t(stood), nowMs);
  FRunMarked = true;
  FRunMark = runMs;
  FRunMarkMs = nowMs;
}

void TReceiveCapture::MarkLastMessageCut() {
  if (FOpenMessage)
    FAddLine(CutMarkLine);
}

TCaptureEnd TReceiveCapture::End(uint32_t nowMs) const {
  if (FLimits.Count > 0 && FMessages >= FLimits.Count)
    return TCaptureEnd::Count;
  if (FLimits.QuietMs > 0 && Received() && Remaining(nowMs, FLastInputMs, FLimits.QuietMs) == 0)
    return TCaptureEnd::Quiet;
  if (FLimits.IdleMs > 0 && Remaining(nowMs, FLastInputMs, FLimits.IdleMs) == 0)
    return TCaptureEnd::Idle;
  if (FLimits.TimeoutMs > 0 && Remaining(nowMs, FStartMs, FLimits.TimeoutMs) == 0)
    return TCaptureEnd::Timeout;
  return TCaptureEnd::Running;
}

uint32_t TReceiveCapture::MsUntilEnd(uint32_t nowMs) const {
  uint32_t until = UINT32_MAX;
  if (FLimits.QuietMs > 0 && Received())
    until = std::min(until, Remaining(nowMs, FLastInputMs, FLimits.QuietMs));
  if (FLimits.IdleMs > 0)
    until = std::min(until, Remaining(nowMs, FLastInputMs, FLimits.IdleMs));
  if (FLimits.TimeoutMs > 0)
    until = std::min(until, Remaining(nowMs, FStartMs, FLimits.TimeoutMs));
  return until;
}

} // namespace pelrow::cli
