#include "app/send_engine.h"

#include "app/send_rate.h"
#include "app/whole_messages.h"
#include "support/text_format.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

namespace pelrow {

namespace {

constexpr const char* TextNoData = "There is no data to send in the Midi Out Box.";
constexpr const char* TextSendingSelected = "Sending selected MIDI out data...";
constexpr const char* TextSending = "Sending MIDI out data...";
constexpr const char* TextProgressRate = "Sending line %d/%d (%d bytes sent at %s)";
constexpr const char* TextProgress = "Sending line %d/%d (%d bytes sent)";
// Said while a send runs with a pause after each message, so that a slow send is
// seen to be meant.
constexpr const char* TextPausing = ", pausing %d ms after each System Exclusive message";
constexpr std::string_view Ellipsis = "...";
constexpr const char* TextCancelled = "Sending cancelled (sent %d bytes)";
constexpr const char* TextSent = "Sent %d bytes";
constexpr const char* TextNoOutput = "No MIDI output device is open; nothing was sent.";
constexpr const char* TextOutputClosed = "The MIDI output device was closed (sent %d bytes)";
constexpr const char* TextRefused = "The MIDI output device refused the data (sent %d bytes)";
constexpr const char* TextUndelivered = "The MIDI output device could not deliver %d of %d bytes";
constexpr const char* TextUnknownError = "Unknown error while sending";
constexpr const char* TextNoMessageBytes =
    "Sent %d bytes; bytes that form no MIDI message were not sent (%d, the first on line %d): "
    "this output carries whole messages only";
// Only a JACK output reports interruptions of its server.
constexpr const char* TextInterruptions = "The JACK server reported %d interruptions during the "
                                          "send; the receiver may have missed data";

constexpr int MaxChunk = 128;
constexpr int64_t SleepAheadMs = 50; // sleep only when this far ahead of the schedule
constexpr uint32_t SleepStepMs = 10;
constexpr uint32_t ProgressIntervalMs = 100;
// While the last data is on its way, pending events run this often.
constexpr uint32_t DeliveryWaitStepMs = 100;
constexpr uint8_t EndOfExclusive = 0xF7;

bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsSeparator(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsSeparator(text.back()))
    text.remove_suffix(1);
  return text;
}

} // namespace

void TSleepingEventLoop::Wait(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TSendEngine::TSendEngine(TClock& clock, TSendEventLoop& eventLoop, TMidiOutputBase& output,
                         TShowStatus showStatus, TSpeedSource speed)
    : FClock(clock), FEventLoop(eventLoop), FOutput(output), FShowStatus(std::move(showStatus)),
      FSpeed(std::move(speed)), FParser(FShowStatus) {}

void TSendEngine::Report(const std::string& text, TStatusKind kind, bool immediate) {
  if (FShowStatus)
    FShowStatus(text, TStatusSide::Out, kind, immediate);
}

void TSendEngine::BSendClick(TSendSource& source) {
  if (FSending) {
    FCancelSend = true;
    return;
  }
  if (source.LineCount() == 0) {
    Report(TextNoData, TStatusKind::ErrorBox, false);
    return;
  }
  Run(source);
}

void TSendEngine::KeyUp(TSendKey key, TSendSource& source) {
  if (key == TSendKey::F4 && !FSending)
    BSendClick(source);
  else if (key == TSendKey::Esc)
    Cancel();
}

void TSendEngine::Cancel() {
  if (FSending)
    FCancelSend = true;
}

bool TSendEngine::QueryClose() {
  if (!FSending)
    return true;
  FCloseRequested = true;
  FCancelSend = true;
  return false;
}

void TSendEngine::Run(TSendSource& source) {
  FCancelSend = false;
  FCloseRequested = false;
  FSending = true;
  FTotalSent = 0;
  FStrayBytes = 0;
  std::string failure;
  try {
    if (OnSendStarted)
      OnSendStarted(*this);
    FFailedBefore = FOutput.FailedBytes();
    const uint32_t interruptionsBefore = FOutput.Interruptions();
    if (SendLines(source) == TOutcome::Completed) {
      // What the output holds back for the rest of a message goes out now: the
      // send has handed over everything it had.
      FOutput.Flush();
      AwaitDelivery();
      const int failed = FailedOfThisSend();
      if (FCancelSend)
        Report(FormatText(TextCancelled, FTotalSent), TStatusKind::Plain, false);
      if (failed > 0)
        Report(FormatText(TextUndelivered, failed, FTotalSent), TStatusKind::Error, false);
      else if (FStrayBytes > 0)
        Report(FormatText(TextNoMessageBytes, FTotalSent, static_cast<int>(FStrayBytes),
                          FFirstStrayLine),
               TStatusKind::Error, false);
      else if (!FCancelSend)
        Report(FormatText(TextSent, FTotalSent), TStatusKind::Plain, false);
      if (const uint32_t interruptions = FOutput.Interruptions() - interruptionsBefore;
          interruptions > 0)
        Report(FormatText(TextInterruptions, static_cast<int>(interruptions)), TStatusKind::Warning,
               false);
    }
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = TextUnknownError;
  }
  if (!failure.empty())
    Report(failure, TStatusKind::Error, false);
  // Every way out ends here, so the window always gets its controls back and a
  // requested close always happens.
  FSending = false;
  if (OnSendEnded)
    OnSendEnded(*this);
}

TSendEngine::TOutcome TSendEngine::SendLines(TSendSource& source) {
  // A selection is sent from a list of its own; the whole box is read live, line
  // by line, with the count fixed here.
  std::unique_ptr<TVKStrings> selection;
  int firstLine = 0;
  if (source.HasSelection()) {
    selection = std::make_unique<TVKStrings>();
    selection->SetText(source.SelectedText());
    firstLine = source.SelectionFirstLine();
    Report(WithPause(TextSendingSelected), TStatusKind::Plain, true);
  } else {
    Report(WithPause(TextSending), TStatusKind::Plain, true);
  }
  const auto lineAt = [&](int index) {
    return selection ? std::string(selection->Get(index)) : source.Line(index);
  };

  const uint32_t start = FClock.NowMs();
  FPace = TPace{};
  FPace.BaseTime = start;
  FProgress = TProgress{};
  FProgress.RateTime = start;
  FProgress.FirstLine = firstLine;
  FProgress.LineCount = selection ? selection->Count() : source.LineCount();
  const int lineCount = FProgress.LineCount;
  // An output that takes whole messages gets each message at once, and the pace
  // falls between messages instead of inside them.
  const uint32_t messageLimit = FOutput.WholeMessageLimit();
  std::optional<TWholeMessageFramer> framer;
  if (messageLimit > 0)
    framer.emplace(messageLimit);
  int remaining = 0;
  int offset = 0;
  int lineIndex = 0;

  while ((lineIndex < lineCount || remaining > 0 || (framer && framer->HasUnit())) &&
         !FCancelSend) {
    const int speed = CheckSpeed();
    if (framer) {
      if (!framer->HasUnit()) {
        const std::string line = lineAt(lineIndex);
        int count = 0;
        if (FParser.ParseLine(firstLine + lineIndex, Trimmed(line), count))
          framer->Feed(FParser.MsgBuf(), static_cast<size_t>(count), lineIndex);
        if (++lineIndex == lineCount)
          framer->Finish();
        continue;
      }
      const TSendUnit& unit = framer->NextUnit();
      const int count = static_cast<int>(unit.Bytes.size());
      ShowProgress(unit.Line);
      const uint8_t* bytes = unit.Bytes.data();
      const bool sent =
          unit.Short ? SendBytes(bytes[0], count > 1 ? bytes[1] : 0, count > 2 ? bytes[2] : 0)
                     : SendBytes(bytes, count);
      if (!sent)
        return TOutcome::Failed;
      // Sent and paced as the bytes of the send it stands for.
      const int inputBytes = unit.InputBytes;
      const bool messageEnded = unit.EndsSysEx;
      framer->PopUnit();
      PaceAfter(speed, inputBytes, messageEnded && (framer->HasUnit() || lineIndex < lineCount));
      continue;
    }
    if (remaining == 0) {
      const std::string line = lineAt(lineIndex);
      int count = 0;
      if (FParser.ParseLine(firstLine + lineIndex, Trimmed(line), count)) {
        remaining = count;
        offset = 0;
      }
    }
    if (remaining > 0) {
      int count = remaining;
      ShowProgress(lineIndex);
      // One complete channel or system message of one to three bytes goes as a
      // short message; the parser leaves zeros behind a shorter one. A lone F0 or
      // F7 is the edge of a SysEx spread over several lines: it goes with the long
      // data, so the output can join the pieces into one message.
      const uint8_t* buffer = FParser.MsgBuf();
      const bool sysExEdge = buffer[0] == 0xF0 || buffer[0] == 0xF7;
      const bool shortMessage = count <= 3 && offset == 0 && !sysExEdge &&
                                StatusLength(buffer[0]) == count && buffer[1] < 0x80 &&
                                buffer[2] < 0x80;
      if (!shortMessage && count > MaxChunk)
        count = MaxChunk;
      // With a gap, a chunk ends at the F7 that ends a message, so that the pause
      // falls exactly between two messages.
      if (!shortMessage && FMessageGapMs > 0)
        count = static_cast<int>(
            std::find(buffer + offset, buffer + offset + count - 1, EndOfExclusive) + 1 -
            (buffer + offset));
      const bool sent = shortMessage ? SendBytes(buffer[0], buffer[1], buffer[2])
                                     : SendBytes(buffer + offset, count);
      if (!sent)
        return TOutcome::Failed;
      offset += count;
      remaining -= count;
      // No pause after the last line: nothing follows that would need it.
      const bool gapFollows = !shortMessage && buffer[offset - 1] == EndOfExclusive &&
                              (remaining > 0 || lineIndex + 1 < lineCount);
      PaceAfter(speed, count, gapFollows);
    }
    if (remaining == 0)
      ++lineIndex;
  }
  if (framer && framer->StrayBytes() > 0) {
    FStrayBytes = framer->StrayBytes();
    FFirstStrayLine = firstLine + framer->FirstStray().Line + 1;
  }
  return TOutcome::Completed;
}

int TSendEngine::CheckSpeed() {
  const int speed = FSpeed ? FSpeed() : 0;
  if (speed != FPace.LastSpeed) {
    // Pacing starts afresh whenever the setting changes.
    FPace.LastSpeed = speed;
    FPace.BytesSinceBase = 0;
    FPace.BaseTime = FClock.NowMs();
    FPace.MsPerByte = SendSpeedFactor(speed) * WireMsPerByte;
  }
  return speed;
}

void TSendEngine::ShowProgress(int lineIndex) {
  TProgress& p = FProgress;
  const uint32_t now = FClock.NowMs();
  if (p.LineCount <= 2 || now - p.RateTime <= ProgressIntervalMs)
    return;
  UpdateRate(now, p.RateTime, p.RateBytes, p.Rate, FTotalSent);
  const int shownLine = p.FirstLine + lineIndex + 1;
  const int shownCount = p.LineCount + p.FirstLine;
  Report(WithPause(p.Rate > 0 ? FormatText(TextProgressRate, shownLine, shownCount, FTotalSent,
                                           FormatRate(p.Rate).c_str())
                              : FormatText(TextProgress, shownLine, shownCount, FTotalSent)),
         TStatusKind::StatusOnly, true);
}

// "Sending MIDI out data..." becomes "Sending MIDI out data, pausing ... message...".
std::string TSendEngine::WithPause(std::string text) const {
  if (FMessageGapMs == 0)
    return text;
  const bool trailing = text.ends_with(Ellipsis);
  if (trailing)
    text.resize(text.size() - Ellipsis.size());
  text += FormatText(TextPausing, FMessageGapMs);
  if (trailing)
    text += Ellipsis;
  return text;
}

// The schedule is cumulative: a late chunk is made up by sending the next ones
// without a pause, and the engine sleeps only once it is well ahead.
void TSendEngine::PaceAfter(int speed, int count, bool messageEnded) {
  FTotalSent += count;
  FPace.BytesSinceBase += count;
  const bool gapFollows = FMessageGapMs > 0 && messageEnded;
  int64_t wait = 0;
  if (speed == SendSpeedUnpaced)
    FPace.BytesSinceBase = 0;
  else
    wait = static_cast<int64_t>(static_cast<double>(FPace.BytesSinceBase) * FPace.MsPerByte) -
           static_cast<int64_t>(FClock.NowMs() - FPace.BaseTime);
  if (gapFollows)
    wait = std::max<int64_t>(wait, 0) + FMessageGapMs;
  if (wait > SleepAheadMs || gapFollows) {
    const uint32_t t0 = FClock.NowMs();
    do {
      FEventLoop.Wait(SleepStepMs);
      if (FCancelSend)
        break;
    } while (static_cast<int64_t>(FClock.NowMs() - t0) <= wait);
  } else {
    FEventLoop.ProcessPending();
  }
  if (gapFollows) {
    // The pace starts afresh after the pause, or the schedule would make it up
    // by sending the next message in a rush.
    FPace.BytesSinceBase = 0;
    FPace.BaseTime = FClock.NowMs();
  }
}

// The device may still be writing the last chunks when the engine has handed them
// over; only once it has finished is it known whether everything arrived. Events
// keep running meanwhile, so a slow or stuck device can still be cancelled.
void TSendEngine::AwaitDelivery() {
  while (!FCancelSend && FOutput.IsOpen() && !FOutput.WaitUntilDelivered(DeliveryWaitStepMs))
    FEventLoop.ProcessPending();
}

// Bytes that never left the program must not be reported as sent.
bool TSendEngine::OutputOpen() {
  if (FOutput.IsOpen())
    return true;
  if (FTotalSent == 0)
    Report(TextNoOutput, TStatusKind::ErrorBox, false);
  else
    Report(FormatText(TextOutputClosed, BytesThatWentOut()), TStatusKind::Error, false);
  return false;
}

bool TSendEngine::SendBytes(uint8_t status, uint8_t data1, uint8_t data2) {
  if (!OutputOpen())
    return false;
  return Taken(FOutput.SendShort(status, data1, data2));
}

bool TSendEngine::SendBytes(const uint8_t* data, int count) {
  if (!OutputOpen())
    return false;
  return Taken(FOutput.SendLong(data, count));
}

bool TSendEngine::Taken(bool taken) {
  if (!taken)
    Report(FormatText(TextRefused, BytesThatWentOut()), TStatusKind::Error, false);
  return taken;
}

// An output that refuses data, or was closed, fails what it still held; a cancel
// while that settles counts what is known so far.
int TSendEngine::BytesThatWentOut() {
  AwaitDelivery();
  return FTotalSent - FailedOfThisSend();
}

// Data MIDI Thru sent meanwhile may have failed too; it is not counted twice.
int TSendEngine::FailedOfThisSend() const {
  const int64_t failed = std::max<int64_t>(FOutput.FailedBytes() - FFailedBefore, 0);
  return static_cast<int>(std::min<int64_t>(failed, FTotalSent));
}

} // namespace pelrow
