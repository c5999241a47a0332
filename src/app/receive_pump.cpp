#include "app/receive_pump.h"

#include "app/line_formatter.h"
#include "app/send_rate.h"
#include "midi/service/loopback/loopback_hub.h"
#include "support/text_format.h"
#include "support/worker_job.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <system_error>

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
constexpr const char* TextInputOverrun =
    "Input lost: the device's input overran: %d bytes were lost";
// Shown as a warning, which the status line prefixes with "Warning: ".
constexpr const char* TextInputMayBeLost =
    "the MIDI system was interrupted while receiving; input may be missing";
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

constexpr uint8_t SysExFirst = 0xF0;
// Real-time messages (timing clock and up) may come inside a System Exclusive one.
constexpr uint8_t RealTimeFirst = 0xF8;

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

namespace {

// Runs one step of the pump; a failure comes back as its message instead of
// escaping.
template <typename TStep> std::string Guarded(TStep step) {
  try {
    step();
    return std::string();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return TextUnknownError;
  }
}

} // namespace

void TReceivePump::HandleEvent(std::unique_ptr<TMyMidiEvent> event, const std::string& inputName) {
  if (!event)
    return;
  ++FHandledEvents;
  const std::string failure = Guarded([&] {
    // Thru sees every event, before the display filter decides what is shown.
    if (FOptions.MidiThru && event->Gap == TInputGap::None)
      SendThru(*event, inputName);
    // While a batch is still being shown, what came after it waits, so that the
    // box keeps the order of arrival; while the box is held, everything waits.
    if (FBatchJob || FHeld)
      FBacklog.push_back(std::move(event));
    else
      ShowEvent(std::move(event));
  });
  if (!failure.empty())
    Report(failure, TStatusKind::Error);
}

void TReceivePump::ShowEvent(std::unique_ptr<TMyMidiEvent> event) {
  if (event->Gap != TInputGap::None) {
    ReceiveGap(std::move(event));
    return;
  }
  if (event->Length != 0) {
    ReceiveLongMessage(std::move(event));
    return;
  }
  // A channel or system common message ends an unfinished System Exclusive
  // message; real-time messages may come in the middle of one.
  if (event->Status < RealTimeFirst) {
    FMessageOpen = false;
    ReportShownMessage();
  }
  if (!FOptions.SysExOnly)
    DisplayShortEvent(std::move(event), FLines, FShowStatus);
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

namespace {

// Whether a System Exclusive message is still unfinished after this piece: the last
// status byte in it decides (real-time bytes may sit inside a message and do not);
// a piece without one leaves the state as it was.
bool LeavesSysExOpen(const TMyMidiEvent& piece, bool openBefore) {
  for (int i = piece.Length - 1; i >= 0; --i) {
    const uint8_t byte = piece.Data[i];
    if (byte >= 0x80 && byte < RealTimeFirst)
      return byte == SysExFirst;
  }
  return openBefore;
}

// The bytes of a message that came in several pieces, joined.
std::vector<uint8_t> JoinedBytes(const std::vector<std::unique_ptr<TMyMidiEvent>>& pieces) {
  std::vector<uint8_t> bytes;
  for (const auto& piece : pieces)
    bytes.insert(bytes.end(), piece->Data.get(), piece->Data.get() + piece->Length);
  return bytes;
}

// Calls show with the bytes of the whole message, joining its pieces only when
// there are several.
template <typename TShow>
void WithMessageBytes(const std::vector<std::unique_ptr<TMyMidiEvent>>& pieces, TShow show) {
  if (pieces.size() == 1) {
    show(pieces.front()->Data.get(), pieces.front()->Length);
    return;
  }
  const std::vector<uint8_t> bytes = JoinedBytes(pieces);
  show(bytes.data(), static_cast<int>(bytes.size()));
}

// Every line of a pending entry: a gap's mark, or the message's bytes as formatting
// the whole message at once gives them, with the cut mark after a message cut short.
template <typename TAdd>
bool AddPendingLines(const std::vector<std::unique_ptr<TMyMidiEvent>>& pieces, int limit,
                     TAdd addLine, const TShowStatus& showStatus) {
  if (pieces.size() == 1 && pieces.front()->Gap != TInputGap::None)
    return AddEventLines(*pieces.front(), limit, addLine, showStatus);
  bool added = true;
  WithMessageBytes(pieces, [&](const uint8_t* data, int length) {
    added = AddLongMessageLines(data, length, limit, addLine, showStatus);
  });
  if (added && !pieces.empty() && pieces.back()->Damaged)
    addLine(CutMarkLine);
  return added;
}

} // namespace

bool TReceivePump::InBurst(uint32_t now) const {
  return now >= FBurstStartTime && now - FBurstStartTime <= BurstMs;
}

void TReceivePump::ReceiveLongMessage(std::unique_ptr<TMyMidiEvent> event) {
  // A piece that goes on with an unfinished System Exclusive message belongs to it.
  const bool continues = FMessageOpen && !FPendingEvents.empty() && event->Data[0] < 0x80;
  // A piece cut short ends its message: the rest never comes. After a gap, the rest
  // of a message under way is a message of its own for the display, in its pieces.
  const bool restAfterGap = FOpenBeforeGap && event->Data[0] < 0x80;
  FOpenBeforeGap = false;
  FMessageOpen = !event->Damaged && LeavesSysExOpen(*event, continues || restAfterGap);
  FBurstGaps.Cut += event->Damaged ? 1 : 0;
  if (continues) {
    ContinueLongMessage(std::move(event));
    return;
  }
  // A message cut short by the next one is reported with what it has.
  ReportShownMessage();

  const uint32_t now = FClock.NowMs();
  FLastLongMsgTime = now;
  if (!FBulkMode) {
    if (!InBurst(now)) {
      FBurstStartTime = now;
      // A gap just before the first message belongs to this burst.
      if (now - FLastGapTime > BurstMs)
        FBurstGaps = TBurstGaps();
      ClearPendingMessages();
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

  FPendingEvents.emplace_back();
  ContinueLongMessage(std::move(event));
}

// Adds a piece to the newest message: shown at once, or counted behind the panel.
void TReceivePump::ContinueLongMessage(std::unique_ptr<TMyMidiEvent> piece) {
  FLastLongMsgTime = FClock.NowMs();
  TPendingEvent& pending = FPendingEvents.back();
  pending.Bytes += piece->Length;
  FPendingBytes += piece->Length;
  pending.Pieces.push_back(std::move(piece));
  if (FBulkMode) {
    // Started once: the timer ticks on from the start of the dump.
    if (!FTimer->Active())
      FTimer->Start(BulkTimerIntervalMs);
    UpdateBulkPanel(FPendingBytes);
    return;
  }
  ShowPiece(pending, *pending.Pieces.back());
  if (!FMessageOpen) {
    ReportShownMessage();
    FTimer->Stop();
  } else if (!FTimer->Active()) {
    // A long message sent slowly takes a while to fill each buffer; meanwhile the
    // status line says how much has come.
    FTimer->Start(BulkTimerIntervalMs);
  }
}

void TReceivePump::ShowPiece(TPendingEvent& pending, const TMyMidiEvent& piece) {
  TReceiveUpdate update(FLines);
  FLines.DeferScrollToEnd();
  if (pending.FirstLine < 0) {
    pending.Limit = FOptions.SplitThreshold();
    pending.FirstLine = FLines.Count();
  }
  // Its earlier lines must still end the box for this piece to follow on.
  const bool follows =
      pending.FirstLine + pending.LineCount == FLines.Count() &&
      (pending.OpenLineBytes == 0 || FLines.Line(FLines.Count() - 1).size() ==
                                         static_cast<size_t>(pending.OpenLineBytes) * 3 - 1);
  if (!follows)
    pending.Scattered = true;
  const int lastLineBytes =
      AddMessagePieceLines(piece.Data.get(), piece.Length, pending.Limit,
                           follows ? pending.OpenLineBytes : 0, FLines, FShowStatus);
  if (piece.Damaged)
    FLines.Add(CutMarkLine);
  pending.LineCount = FLines.Count() - pending.FirstLine;
  pending.OpenLineBytes = FMessageOpen ? lastLineBytes : 0;
}

// The newest message, shown at once, is reported once, when it is complete or
// when it turns out to stay unfinished.
void TReceivePump::ReportShownMessage() {
  if (FBulkMode || FPendingEvents.empty())
    return;
  TPendingEvent& pending = FPendingEvents.back();
  if (pending.Reported || pending.FirstLine < 0)
    return;
  pending.Reported = true;
  pending.OpenLineBytes = 0;
  if (pending.Damaged())
    Report(FormatText(TextReceivedCut, pending.Bytes), TStatusKind::Error);
  else
    Report(FormatText(TextReceivedOk, pending.Bytes), TStatusKind::Plain);
}

// The user hears of a gap at once; its mark goes where it happened, also inside a
// burst whose messages are written again as one batch. A message under way ends
// at the gap: what follows is shown after the mark.
void TReceivePump::ReceiveGap(std::unique_ptr<TMyMidiEvent> event) {
  FBurstGaps.Cut += event->Damaged ? 1 : 0; // it cut the message under way
  FOpenBeforeGap = FMessageOpen;
  FMessageOpen = false;
  ReportShownMessage();
  const uint32_t now = FClock.NowMs();
  FLastGapTime = now;
  if (CertainLoss(event->Gap)) {
    const auto bytes = static_cast<unsigned long long>(event->LostBytes);
    Report(event->Gap == TInputGap::Overrun ? FormatText(TextInputOverrun, bytes)
           : bytes > 0                      ? FormatText(TextInputLost, bytes)
                                            : std::string(TextInputLostUncounted),
           TStatusKind::Error);
    FBurstGaps.Lost = true;
    FBurstGaps.LostBytes += event->LostBytes;
    FBurstGaps.Uncounted = FBurstGaps.Uncounted || event->LostBytes == 0;
  } else {
    Report(TextInputMayBeLost, TStatusKind::Warning);
    FBurstGaps.MayBeLost = true;
  }
  if (!FBulkMode && (FPendingEvents.empty() || !InBurst(now))) {
    DisplayShortEvent(std::move(event), FLines, FShowStatus);
    return;
  }
  FPendingEvents.emplace_back();
  TPendingEvent& pending = FPendingEvents.back();
  pending.Pieces.push_back(std::move(event));
  pending.Reported = true;
  if (!FBulkMode)
    ShowGap(pending);
}

void TReceivePump::ShowGap(TPendingEvent& pending) {
  TReceiveUpdate update(FLines);
  FLines.DeferScrollToEnd();
  pending.Limit = FOptions.SplitThreshold();
  pending.FirstLine = FLines.Count();
  AddEventLines(*pending.Pieces.front(), pending.Limit, FLines, FShowStatus);
  pending.LineCount = FLines.Count() - pending.FirstLine;
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
  if (pending.Scattered || pending.LineCount <= 0 ||
      pending.FirstLine + pending.LineCount > FLines.Count())
    return false;
  const int end = pending.FirstLine + pending.LineCount;
  int line = pending.FirstLine;
  bool intact = true;
  AddPendingLines(
      pending.Pieces, pending.Limit,
      [&](std::string_view text) {
        intact = intact && line < end && FLines.Line(line) == text;
        ++line;
      },
      TShowStatus());
  return intact && line == end;
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
  if (FBatchJob || FHeld)
    return; // the dump is being shown, or waits until the box may change
  if (FClock.NowMs() - FLastLongMsgTime < BulkTimerIntervalMs)
    return; // the dump, or the message, is still arriving
  if (!FBulkMode) {
    // Only its end, or the next message, completes an unfinished message; a pause
    // on the way (a slow sender) does not.
    if (FMessageOpen && !FPendingEvents.empty())
      Report(FormatText(TextReceivedProgress, FPendingEvents.back().Bytes),
             TStatusKind::StatusOnly);
    else
      FTimer->Stop();
    return;
  }
  bool shown = true;
  const std::string failure = Guarded([&] { shown = ShowBatch(); });
  if (!shown)
    return; // it goes on in the background
  EndBatch();
  if (!failure.empty())
    Report(failure, TStatusKind::Error);
}

// Whatever happened, the dump is over: nothing stays pending behind a panel.
void TReceivePump::EndBatch() {
  FTimer->Stop();
  if (FBulkMode) {
    FBulkMode = false;
    ClearPendingMessages();
  }
  FPanel.Hide();
  FLines.Repaint();
}

bool TReceivePump::ShowBatch() {
  FTimer->Stop();
  SetBulkPanelText(TextDisplaying);
  const int limit = FOptions.SplitThreshold();
  const std::string rate =
      FormatRate(KBytesPerSecond(FLastLongMsgTime - FBurstStartTime, FPendingBytes));
  if (FBatchPoster && FPendingBytes >= BackgroundBatchBytes &&
      StartBatchJob(limit, FPendingBytes, rate))
    return false;
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
        AddPendingLines(
            pending.Pieces, limit, [&](std::string_view line) { FLines.Add(line); }, FShowStatus);
      pending.Pieces.clear();
    }
    FBulkMode = false;
    total = FPendingBytes;
    ClearPendingMessages();
  }
  FLines.ScrollToEnd();
  ReportDump(total, rate);
  FBurstGaps = TBurstGaps();
  return true;
}

// ---- a large batch on a worker thread ---------------------------------------------

struct TReceivePump::TBatchJob {
  TReceivePump* Pump = nullptr;
  std::vector<TPendingEvent> Pending;
  int Limit = -1;
  int Total = 0;
  std::string Rate;
  // Set on the UI thread; the worker stops soon after, and nothing it posts acts.
  std::atomic<bool> Cancelled{false};
};

bool TReceivePump::StartBatchJob(int limit, int total, const std::string& rate) {
  auto job = std::make_shared<TBatchJob>();
  job->Pump = this;
  job->Pending = std::move(FPendingEvents);
  job->Limit = limit;
  job->Total = total;
  job->Rate = rate;
  try {
    FBatchWorker = std::thread([job, poster = FBatchPoster] { RunBatchJob(job, *poster); });
  } catch (const std::system_error&) {
    FPendingEvents = std::move(job->Pending); // shown at once instead
    return false;
  }
  FBatchJob = std::move(job);
  FBulkMode = false;
  ClearPendingMessages();
  return true;
}

void TReceivePump::RunBatchJob(const std::shared_ptr<TBatchJob>& held, TUiPoster& poster) {
  // A few megabytes of text per step on the UI thread.
  constexpr size_t PieceBytes = size_t(16) << 20;
  TBatchJob& job = *held;
  // What the worker posts holds the job and acts only while it still runs.
  const auto post = [&](std::function<void(TReceivePump&)> step) {
    poster.Post([held, step = std::move(step)] {
      if (!held->Cancelled)
        held->Pump->RunBatchStep(step);
    });
  };
  std::vector<std::string> piece;
  size_t pieceBytes = 0;
  const auto handOver = [&] {
    post([lines = std::move(piece)](TReceivePump& pump) mutable {
      TReceiveUpdate update(pump.FLines);
      pump.FLines.AddLines(std::move(lines));
    });
    piece = {};
    pieceBytes = 0;
  };
  // A failing message is reported where it stands among the lines.
  const TShowStatus report = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    post([text, kind](TReceivePump& pump) { pump.Report(text, kind); });
  };
  for (TPendingEvent& pending : job.Pending) {
    if (job.Cancelled)
      return;
    if (pending.FirstLine < 0)
      AddPendingLines(
          pending.Pieces, job.Limit,
          [&](std::string_view line) {
            piece.emplace_back(line);
            pieceBytes += line.size();
            if (pieceBytes >= PieceBytes)
              handOver();
          },
          report);
    pending.Pieces.clear();
  }
  handOver();
  post([held](TReceivePump& pump) { pump.EndBatchJob(*held); });
}

void TReceivePump::EndBatchJob(TBatchJob& job) {
  if (FBatchWorker.joinable())
    FBatchWorker.join();
  FBatchJob.reset();
  FLines.ScrollToEnd();
  ReportDump(job.Total, job.Rate);
  FBurstGaps = TBurstGaps();
  EndBatch();
  ShowBacklog();
}

void TReceivePump::RunBatchStep(std::function<void(TReceivePump&)> step) {
  if (FHeld)
    FHeldBatchSteps.push_back(std::move(step));
  else
    step(*this);
}

void TReceivePump::Hold() {
  FHeld = true;
}

void TReceivePump::Release() {
  if (!FHeld)
    return;
  FHeld = false;
  // The batch goes on where it was held (and may end, showing the backlog itself).
  std::vector<std::function<void(TReceivePump&)>> steps = std::move(FHeldBatchSteps);
  FHeldBatchSteps.clear();
  for (auto& step : steps)
    step(*this);
  if (!FBatchJob)
    ShowBacklog();
}

// What came meanwhile is shown now, in order.
void TReceivePump::ShowBacklog() {
  std::vector<std::unique_ptr<TMyMidiEvent>> backlog = std::move(FBacklog);
  FBacklog.clear();
  for (std::unique_ptr<TMyMidiEvent>& event : backlog) {
    const std::string failure = Guarded([&] { ShowEvent(std::move(event)); });
    if (!failure.empty())
      Report(failure, TStatusKind::Error);
  }
}

void TReceivePump::CancelBatch() {
  if (!FBatchJob)
    return;
  CancelAndJoin(FBatchJob, FBatchWorker);
  FBatchJob.reset();
}

TReceivePump::~TReceivePump() {
  CancelBatch();
}

// A dump that lost data, or holds a message cut short, never reads as received whole.
void TReceivePump::ReportDump(int total, const std::string& rate) {
  const TBurstGaps& gaps = FBurstGaps;
  if (gaps.Lost && !gaps.Uncounted)
    Report(FormatText(TextBulkLost, total, rate, static_cast<unsigned long long>(gaps.LostBytes)),
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
