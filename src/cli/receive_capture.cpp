// Keeping received events as hex lines, and knowing when to stop.
#include "cli/receive_capture.h"

#include <algorithm>
#include <climits>

namespace pelrow::cli {

namespace {
constexpr uint8_t EndOfExclusive = 0xF7;

// Milliseconds from now until due, 0 once it has passed.
uint32_t Remaining(uint32_t now, uint32_t from, uint32_t span) {
  const uint32_t elapsed = now - from;
  return elapsed >= span ? 0 : span - elapsed;
}
} // namespace

int EventBytes(const TMyMidiEvent& event) {
  return MessageLength(event);
}

TReceiveCapture::TReceiveCapture(const TCaptureLimits& limits, int splitThreshold, TAddLine addLine,
                                 uint32_t startMs)
    : FLimits(limits), FSplitThreshold(splitThreshold), FAddLine(std::move(addLine)),
      FStartMs(startMs) {}

bool TReceiveCapture::Take(const TMyMidiEvent& event, uint32_t nowMs) {
  // A loss counts also after the last message that was kept.
  if (event.Gap == TInputGap::Lost) {
    FLost = true;
    FLostBytes += event.LostBytes;
    FLossCounted = FLossCounted && event.LostBytes > 0;
  }
  FMayBeLost = FMayBeLost || event.Gap == TInputGap::MayBeLost;
  if (FLimits.Count > 0 && FMessages >= FLimits.Count)
    return false;
  const TShowStatus noteFailure = [this](const std::string& text, TStatusSide, TStatusKind, bool) {
    if (FFailure.empty())
      FFailure = text;
  };
  AddEventLines(event, FSplitThreshold, FAddLine, noteFailure);
  // A gap is no input: xruns every few periods must not keep a capture from ending.
  if (event.Gap != TInputGap::None)
    return true;
  // A System Exclusive message comes in pieces of one buffer each; it is complete
  // with the piece that ends in F7. Every short message is complete in itself.
  const bool complete =
      event.Length > 0 ? event.Data[event.Length - 1] == EndOfExclusive : MessageLength(event) > 0;
  FBytes += static_cast<uint64_t>(EventBytes(event));
  if (complete)
    ++FMessages;
  FLastInputMs = nowMs;
  return true;
}

void TReceiveCapture::HeldUp(uint32_t ms, uint32_t nowMs) {
  // Input taken after the hold-up (in the same wait) already moved the last input
  // on; quiet then counts from it, and never from a time still to come.
  if (Received())
    FLastInputMs += std::min(ms, nowMs - FLastInputMs);
}

TCaptureEnd TReceiveCapture::End(uint32_t nowMs) const {
  if (FLimits.Count > 0 && FMessages >= FLimits.Count)
    return TCaptureEnd::Count;
  if (FLimits.QuietMs > 0 && Received() && Remaining(nowMs, FLastInputMs, FLimits.QuietMs) == 0)
    return TCaptureEnd::Quiet;
  if (FLimits.TimeoutMs > 0 && Remaining(nowMs, FStartMs, FLimits.TimeoutMs) == 0)
    return TCaptureEnd::Timeout;
  return TCaptureEnd::Running;
}

uint32_t TReceiveCapture::MsUntilEnd(uint32_t nowMs) const {
  uint32_t until = UINT32_MAX;
  if (FLimits.QuietMs > 0 && Received())
    until = std::min(until, Remaining(nowMs, FLastInputMs, FLimits.QuietMs));
  if (FLimits.TimeoutMs > 0)
    until = std::min(until, Remaining(nowMs, FStartMs, FLimits.TimeoutMs));
  return until;
}

} // namespace pelrow::cli
