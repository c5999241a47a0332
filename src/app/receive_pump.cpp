#include "app/receive_pump.h"

#include "app/line_formatter.h"
#include "app/send_rate.h"
#include "midi/service/loopback/loopback_hub.h"
#include "support/text_format.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace pelrow {

namespace {

constexpr const char* TextReceivedOk = "Received %d bytes succesfully.";
constexpr const char* TextReceivedProgress = "Received %d bytes...";
constexpr const char* TextReceivedRate = "at %s";
constexpr const char* TextDisplaying = "Displaying bulk dump data...";
constexpr const char* TextBulkReceived = "Received %d bytes of bulk dump (at %s)";
constexpr const char* TextBulkLost =
    "Received %d bytes of bulk dump (at %s), but it is incomplete: %d bytes were lost";
constexpr const char* TextBulkLostUncounted =
    "Received %d bytes of bulk dump (at %s), but it is incomplete: input was lost";
constexpr const char* TextBulkCut =
    "Received %d bytes of bulk dump (at %s), but it is incomplete: %d messages were cut short";
constexpr const char* TextBulkMayBeLost = "Received %d bytes of bulk dump (at %s); input may be "
                                          "missing: the MIDI system was interrupted";
constexpr const char* TextReceivedCut = "Received %d bytes of a message that was cut short";
constexpr const char* TextInputLost = "Input lost: %d bytes could not be kept";
constexpr const char* TextInputLostUncounted =
    "Input lost: the MIDI system could not keep all input";
constexpr const char* TextInputMayBeLost =
    "Warning: the MIDI system was interrupted while receiving; input may be missing";
constexpr const char* TextThruOn = "Enabled MIDI thru";
constexpr const char* TextThruOff = "Disabled MIDI thru";
constexpr const char* TextThruLoop =
    "MIDI thru does not echo into \"%s\": the input would receive it again";
constexpr const char* TextActiveSensingOn = "Enabled receiving Active Sensing messages";
constexpr const char* TextActiveSensingOff = "Disabled receiving Active Sensing messages";
constexpr const char* TextTimingClockOn = "Enabled receiving MTC (Midi Time Clock) messages";
constexpr const char* TextTimingClockOff = "Disabled receiving MTC (Midi Time Clock) messages";
constexpr const char* TextUnknownError = "Unknown error while receiving";

// A burst ends this long after it started; within it, this many pending messages
// or bytes make it a bulk dump.
constexpr uint32_t BurstMs = 1500;
constexpr size_t BulkMessages = 8;
constexpr int BulkBytes = 500;

} // namespace

int TReceiveOptions::SplitThreshold() const {
  return pelrow::SplitThreshold(SplitLongMessages, SplitLongMessagesThreshold);
}

TReceivePump::TReceivePump(TClock& clock, std::unique_ptr<TTimer> timer, TReceiveLines& lines,
                           TBulkPanel& panel, TMidiOutputBase& output, TShowStatus showStatus)
    : FClock(clock), FTimer(std::move(timer)), FLines(lines), FPanel(panel), FOutput(output),
      FShowStatus(std::move(showStatus)) {
  FTimer->OnTimer = [this](TTimer&) { AsnchRecvTimerTimer(); };
}

void TReceivePump::Report(const std::string& text, TStatusKind kind) {
  if (FShowStatus)
    FShowStatus(text, TStatusSide::In, kind, false);
}

void TReceivePump::MidiInData(TMidiInput& sender) {
  while (sender.EventCount() > 0) {
    std::unique_ptr<TMyMidiEvent> event = sender.GetEvent();
    if (!event)
      break;
    HandleEvent(std::move(event), sender.DeviceName());
  }
}

void TReceivePump::HandleEvent(std::unique_ptr<TMyMidiEvent> event, const std::string& inputName) {
  if (!event)
    return;
  ++FHandledEvents;
  std::string failure;
  try {
    // Thru sees every event, before the display filter decides what is shown.
    if (FOptions.MidiThru && event->Gap == TInputGap::None)
      SendThru(*event, inputName);
    if (event->Gap != TInputGap::None)
      ReceiveGap(std::move(event));
    else if (event->Length != 0)
      ReceiveLongMessage(std::move(event));
    else if (!FOptions.SysExOnly)
      DisplayShortEvent(std::move(event), FLines, FShowStatus);
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = TextUnknownError;
  }
  Report(failure, TStatusKind::Error);
}

// Only the program's own loopback port leads from an output back into the input
// of the same name; a hardware device's ports may share a name without a loop.
// The mapper stands for the first output, which may be that port.
bool TReceivePump::IsThruLoop(const std::string& inputName) {
  if (!FOutput.IsOpen() || !SameDeviceName(inputName, LoopbackPortName))
    return false;
  const std::string outputName =
      FOutput.DeviceID() == MidiMapper ? FOutput.GetDeviceName(0) : FOutput.DeviceName();
  return SameDeviceName(inputName, outputName);
}

void TReceivePump::SendThru(const TMyMidiEvent& event, const std::string& inputName) {
  if (IsThruLoop(inputName)) {
    if (!FThruLoopReported)
      Report(FormatText(TextThruLoop, inputName.c_str()), TStatusKind::Plain);
    FThruLoopReported = true;
    return;
  }
  FThruLoopReported = false;
  if (event.Length != 0)
    FOutput.SendLong(event.Data.get(), event.Length);
  else
    FOutput.SendShort(event.Status, event.Data1, event.Data2);
}

void TReceivePump::ReceiveLongMessage(std::unique_ptr<TMyMidiEvent> event) {
  const uint32_t now = FClock.NowMs();
  FLastLongMsgTime = now;
  if (!FBulkMode) {
    if (!InBurst(now)) {
      FBurstStartTime = now;
      ClearPendingMessages();
      // A gap just before the first message belongs to this burst.
      if (now - FLastGapTime > BurstMs)
        FBurstGaps = TBurstGaps();
      FRecvRateTime = now;
      FRecvRateBytes = 0;
      FRecvRate = 0.0;
    } else if (FPendingEvents.size() >= BulkMessages || FPendingBytes >= BulkBytes) {
      // Counted before this message: a single message, however long, is always
      // shown at once.
      FBulkMode = true;
      Report(std::string(), TStatusKind::StatusOnly);
      TakeBackShownMessages();
    }
  }

  const int length = event->Length;
  const bool damaged = event->Damaged;
  FBurstGaps.Cut += damaged ? 1 : 0;
  FPendingEvents.push_back(TPendingEvent{std::move(event)});
  FPendingBytes += length;
  if (FBulkMode) {
    // Started once: the timer ticks on from the start of the dump.
    if (!FTimer->Active())
      FTimer->Start(BulkTimerIntervalMs);
    UpdateBulkPanel(FPendingBytes);
    return;
  }
  ShowPending(FPendingEvents.back());
  if (damaged)
    Report(FormatText(TextReceivedCut, length), TStatusKind::Error);
  else
    Report(FormatText(TextReceivedOk, length), TStatusKind::Plain);
}

bool TReceivePump::InBurst(uint32_t now) const {
  return now >= FBurstStartTime && now - FBurstStartTime <= BurstMs;
}

void TReceivePump::ShowPending(TPendingEvent& pending) {
  TReceiveUpdate update(FLines);
  FLines.DeferScrollToEnd();
  pending.Limit = FOptions.SplitThreshold();
  pending.FirstLine = FLines.Count();
  AddEventLines(*pending.Event, pending.Limit, FLines, FShowStatus);
  pending.LineCount = FLines.Count() - pending.FirstLine;
}

// The user hears of a gap at once; its mark goes where it happened, also inside a
// burst whose messages are written again as one batch.
void TReceivePump::ReceiveGap(std::unique_ptr<TMyMidiEvent> event) {
  const uint32_t now = FClock.NowMs();
  FLastGapTime = now;
  if (event->Gap == TInputGap::Lost) {
    Report(event->LostBytes > 0
               ? FormatText(TextInputLost, static_cast<unsigned long long>(event->LostBytes))
               : std::string(TextInputLostUncounted),
           TStatusKind::Error);
    FBurstGaps.Lost = true;
    FBurstGaps.LostBytes += event->LostBytes;
    FBurstGaps.Uncounted = FBurstGaps.Uncounted || event->LostBytes == 0;
  } else {
    Report(TextInputMayBeLost, TStatusKind::Plain);
    FBurstGaps.MayBeLost = true;
  }
  if (!FBulkMode && (FPendingEvents.empty() || !InBurst(now))) {
    DisplayShortEvent(std::move(event), FLines, FShowStatus);
    return;
  }
  FPendingEvents.push_back(TPendingEvent{std::move(event)});
  if (!FBulkMode)
    ShowPending(FPendingEvents.back());
}

// The burst's long messages leave the box so that the whole dump appears together
// in the batch. Short messages shown in between stay where they are. A message
// whose lines are no longer as they were written (the user edited or cleared the
// box) is left alone and not written a second time.
void TReceivePump::TakeBackShownMessages() {
  TReceiveUpdate update(FLines);
  for (auto it = FPendingEvents.rbegin(); it != FPendingEvents.rend(); ++it) {
    if (it->FirstLine < 0 || !ShownLinesIntact(*it))
      continue;
    FLines.Delete(it->FirstLine, it->LineCount);
    it->FirstLine = -1;
    it->LineCount = 0;
  }
}

bool TReceivePump::ShownLinesIntact(const TPendingEvent& pending) const {
  if (pending.LineCount <= 0 || pending.FirstLine + pending.LineCount > FLines.Count())
    return false;
  int line = pending.FirstLine;
  bool intact = true;
  AddEventLines(
      *pending.Event, pending.Limit,
      [&](std::string_view text) {
        intact = intact && line < pending.FirstLine + pending.LineCount && FLines.Line(line) == text;
        ++line;
      },
      TShowStatus());
  return intact && line == pending.FirstLine + pending.LineCount;
}

void TReceivePump::ClearPendingMessages() {
  FPendingEvents.clear();
  FPendingBytes = 0;
}

void TReceivePump::UpdateBulkPanel(int bytes) {
  if (!FPanel.Visible())
    FPanel.Show();
  UpdateRate(FClock.NowMs(), FRecvRateTime, FRecvRateBytes, FRecvRate, bytes);
  FPanel.SetTexts(FormatText(TextReceivedProgress, bytes),
                  FRecvRate > 0 ? FormatText(TextReceivedRate, FormatRate(FRecvRate).c_str())
                                : std::string(),
                  false);
}

void TReceivePump::SetBulkPanelText(const std::string& text) {
  if (FPanel.Visible())
    FPanel.SetTexts(text, std::string(), true);
}

void TReceivePump::AsnchRecvTimerTimer() {
  if (!FBulkMode) {
    FTimer->Stop();
    return;
  }
  if (FClock.NowMs() - FLastLongMsgTime < BulkTimerIntervalMs)
    return; // the dump is still arriving
  std::string failure;
  try {
    ShowBatch();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = TextUnknownError;
  }
  // Whatever happened, the dump is over: nothing stays pending behind a panel.
  FTimer->Stop();
  if (FBulkMode) {
    FBulkMode = false;
    ClearPendingMessages();
  }
  FPanel.Hide();
  FLines.Repaint();
  if (!failure.empty())
    Report(failure, TStatusKind::Error);
}

void TReceivePump::ShowBatch() {
  FTimer->Stop();
  SetBulkPanelText(TextDisplaying);
  const int limit = FOptions.SplitThreshold();
  int total = 0;
  {
    TReceiveUpdate update(FLines);
    // One growth of the list for the whole dump: at least one line per message,
    // and one per limit bytes when lines are cut by length.
    int64_t expected = FLines.Count() + static_cast<int64_t>(FPendingEvents.size());
    if (limit > 0)
      expected += FPendingBytes / limit;
    FLines.Reserve(static_cast<int>(std::min<int64_t>(expected, INT32_MAX)));
    for (TPendingEvent& pending : FPendingEvents) {
      // A failing message is reported by the formatter; the others still show.
      if (pending.FirstLine < 0)
        AddEventLines(*pending.Event, limit, FLines, FShowStatus);
      pending.Event.reset();
    }
    FBulkMode = false;
    total = FPendingBytes;
    ClearPendingMessages();
  }
  FLines.ScrollToEnd();
  const double rate = KBytesPerSecond(FLastLongMsgTime - FBurstStartTime, total);
  ReportDump(total, FormatRate(rate));
  FBurstGaps = TBurstGaps();
}

// A dump that lost data, or holds a message cut short, never reads as received whole.
void TReceivePump::ReportDump(int total, const std::string& rate) {
  const TBurstGaps& gaps = FBurstGaps;
  if (gaps.Lost && !gaps.Uncounted)
    Report(FormatText(TextBulkLost, total, rate,
                      static_cast<unsigned long long>(gaps.LostBytes)),
           TStatusKind::Error);
  else if (gaps.Lost)
    Report(FormatText(TextBulkLostUncounted, total, rate), TStatusKind::Error);
  else if (gaps.Cut > 0)
    Report(FormatText(TextBulkCut, total, rate, gaps.Cut), TStatusKind::Error);
  else if (gaps.MayBeLost)
    Report(FormatText(TextBulkMayBeLost, total, rate), TStatusKind::Plain);
  else
    Report(FormatText(TextBulkReceived, total, rate), TStatusKind::Plain);
}

bool TReceivePump::MidiThru1Click() {
  FOptions.MidiThru = !FOptions.MidiThru;
  FThruLoopReported = false;
  Report(FOptions.MidiThru ? TextThruOn : TextThruOff, TStatusKind::Plain);
  return FOptions.MidiThru;
}

bool TReceivePump::Splitlongsysexmessages1Click() {
  FOptions.SplitLongMessages = !FOptions.SplitLongMessages;
  return FOptions.SplitLongMessages;
}

bool TReceivePump::EnableActiveSensing1Click(TMidiInputBase& input) {
  input.SetActiveSensing(!input.GetActiveSensing());
  const bool enabled = input.GetActiveSensing();
  Report(enabled ? TextActiveSensingOn : TextActiveSensingOff, TStatusKind::Plain);
  return enabled;
}

bool TReceivePump::EnableMidiTimeCode1Click(TMidiInputBase& input) {
  input.SetTimingClock(!input.GetTimingClock());
  const bool enabled = input.GetTimingClock();
  Report(enabled ? TextTimingClockOn : TextTimingClockOff, TStatusKind::Plain);
  return enabled;
}

} // namespace pelrow
