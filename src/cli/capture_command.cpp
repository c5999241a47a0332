// Receiving from the command line.
#include "cli/capture_command.h"

#include "app/file_saver.h"
#include "app/line_formatter.h"
#include "cli/capture_input.h"
#include "cli/interrupt.h"
#include "cli/midi_session.h"
#include "cli/output_file.h"
#include "cli/progress_line.h"
#include "cli/receive_capture.h"
#include "cli/send_command.h"
#include "cli/send_input.h"
#include "editor/vkstrings.h"
#include "support/clock.h"
#include "support/text_format.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

namespace pelrow::cli {

namespace {

constexpr const char* TextLost = "input lost: %d bytes could not be kept";
constexpr const char* TextLostAtLeast = "input lost: at least %d bytes could not be kept";
constexpr const char* TextLostUncounted =
    "input lost: the MIDI system could not keep all input and did not say how much";
constexpr const char* TextOverrun = "the device's input overran: %d bytes were lost";
constexpr const char* TextMayBeLost =
    "may be incomplete: the MIDI system was interrupted while input came; input may be missing";
constexpr const char* TextDamaged =
    "may be incomplete: messages cut short, each marked as incomplete: %d";
constexpr const char* TextNothingReceived = "nothing was received; %s was left as it was";
constexpr const char* TextNothingWithin = "nothing was received within %d s";
constexpr const char* TextNoReply = "no reply from \"%s\" within %d ms";
constexpr const char* TextReceived = "Received %d bytes (%d messages)";
constexpr const char* TextNothingToSend = "the request holds no MIDI bytes";
constexpr const char* TextInputFailed = "the input \"%s\" failed: %s";
constexpr const char* TextSourceGone =
    "the input \"%s\" lost its source (it went away or was disconnected)";
constexpr const char* TextCutByTimeout =
    "the time limit of %d ms cut the last message: its end never came";
constexpr const char* TextLastCut = "the last message is cut: its end never came";
constexpr const char* TextTooFew = "only %d of %d messages arrived";
constexpr const char* TextOutputStalled =
    "standard output took nothing while %d MB waited for it; the capture was ended there";
constexpr const char* TextCutAtStart =
    "the first message was cut: it began before the input listened, and its last %d bytes "
    "were not kept";
// The longest single wait for input, so that Ctrl-C is seen at once.
constexpr uint32_t WaitStepMs = 50;
// A wait that overran by more than this means the program itself was held up.
constexpr uint32_t HeldUpMs = 100;
// Where the captured lines go: standard output as they come, through a writer of
// its own, or a line list that is saved at the end.
class TCaptureSink {
public:
  TCaptureSink(const TCliOptions& options, TCliStreams& streams)
      : FFileName(options.OutputFile), FStreams(streams) {
    if (FFileName.empty())
      FWriter.emplace(*streams.Out);
  }

  TAddLine AddLine() {
    if (FWriter)
      return [this](std::string_view line) { FWriter->Add(line); };
    return [this](std::string_view line) { FLines.Add(std::string(line)); };
  }
  // Hands the new lines to standard output's writer; false once standard output
  // cannot be written (its reader went away).
  bool Flush() { return !FWriter || FWriter->Flush(); }
  // Standard output has taken nothing of all that its writer may hold.
  bool Full() const { return FWriter && FWriter->Full(); }
  int LimitMb() const { return FWriter ? int(FWriter->LimitBytes() >> 20) : 0; }
  // Waits until standard output has taken every line, or failed.
  void Finish() {
    if (FWriter)
      FWriter->Finish();
  }

  // Saves the lines through the window's saver, or beside the file when that
  // fails; false then (the reason and where they went have been said).
  bool Save() { return FFileName.empty() || SaveCapture(FFileName, FLines, FStreams); }

private:
  std::string FFileName;
  TCliStreams& FStreams;
  TVKStrings FLines;
  std::optional<TOutputWriter> FWriter;
};

// How a capture ended, beyond what the capture itself knows.
struct TCaptureOutcome {
  TCaptureEnd End = TCaptureEnd::Running;
  std::string Failure; // the device's, when it failed
  bool SourceGone = false;
};

// Everything that went wrong with what arrived, each said in one line; the exit
// status they make.
int ReportCapture(const TCliOptions& options, TCliStreams& streams, const TPort& inPort,
                  bool request, const TReceiveCapture& capture, const TCaptureOutcome& outcome) {
  int status = ExitOk;
  const auto fail = [&](const std::string& text) {
    ReportError(streams, text);
    status = ExitFailure;
  };
  if (capture.CutAtStartBytes() > 0)
    ReportError(streams, FormatText(TextCutAtStart,
                                    static_cast<unsigned long long>(capture.CutAtStartBytes())));
  if (!outcome.Failure.empty())
    fail(FormatText(TextInputFailed, inPort.Name.c_str(), outcome.Failure));
  else if (outcome.SourceGone)
    fail(FormatText(TextSourceGone, inPort.Name.c_str()));
  if (!capture.Failure().empty())
    fail(capture.Failure());
  // Certain loss fails the command; a possible one, or messages marked as damaged,
  // make it "may be incomplete" unless something worse happened.
  const auto mayBeIncomplete = [&](const std::string& text) {
    ReportError(streams, text);
    if (status == ExitOk)
      status = ExitMaybeIncomplete;
  };
  if (capture.OverrunBytes() > 0)
    fail(FormatText(TextOverrun, static_cast<unsigned long long>(capture.OverrunBytes())));
  if (capture.Lost()) {
    const auto bytes = static_cast<unsigned long long>(capture.LostBytes());
    fail(capture.LossCounted() ? FormatText(TextLost, bytes)
         : bytes > 0           ? FormatText(TextLostAtLeast, bytes)
                               : std::string(TextLostUncounted));
  } else if (capture.MayBeLost()) {
    mayBeIncomplete(TextMayBeLost);
  }
  // A cut last message is told on its own below.
  if (const uint64_t damaged = capture.DamagedMessages() - (capture.LastMessageDamaged() ? 1 : 0);
      damaged > 0)
    mayBeIncomplete(FormatText(TextDamaged, static_cast<unsigned long long>(damaged)));
  if (capture.LastMessageCut())
    fail(outcome.End == TCaptureEnd::Timeout ? FormatText(TextCutByTimeout, options.TimeoutMs)
                                             : std::string(TextLastCut));
  const bool failed = !outcome.Failure.empty() || outcome.SourceGone;
  if (!capture.Received()) {
    if (request && !failed)
      fail(FormatText(TextNoReply, inPort.Name.c_str(),
                      outcome.End == TCaptureEnd::Timeout ? options.TimeoutMs : options.IdleMs));
    else if (!request && options.OutputFile.empty() && outcome.End == TCaptureEnd::Idle)
      ReportError(streams, FormatText(TextNothingWithin, options.IdleMs / 1000));
  }
  // A request that got no reply has said so.
  if (options.Count > 0 && capture.Messages() < options.Count && (capture.Received() || !request))
    fail(FormatText(TextTooFew, capture.Messages(), options.Count));
  return status;
}

int RunCapture(const TCliOptions& options, TCliStreams& streams, bool request) {
  // Ports and the output file first: a mistake there costs nothing.
  std::string error;
  TMidiSession session;
  if (!StartMidi(options, session, error)) {
    ReportError(streams, error);
    return ExitFailure;
  }
  const TPort* inPort = FindPort(session.Ports, TPortDirection::In, options.InPort, error);
  const TPort* outPort = request && inPort != nullptr
                             ? FindPort(session.Ports, TPortDirection::Out, options.OutPort, error)
                             : nullptr;
  if (inPort == nullptr || (request && outPort == nullptr)) {
    ReportError(streams, error);
    return ExitUsage;
  }
  if (!options.OutputFile.empty() && !CheckOutputFile(options.OutputFile, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  TSaveForm form = TSaveForm::Text;
  if (!options.OutputFile.empty() && !OutputFormOf(options.OutputFile, form, error)) {
    ReportError(streams, error);
    return ExitUsage;
  }
  TSendInput requestInput;
  if (request && (!ReadNonEmptySendInput(options.SendItems, streams.In, options.InputFormat,
                                         requestInput, TextNothingToSend, error) ||
                  !CheckWholeMessages(requestInput, error))) {
    ReportError(streams, error);
    return ExitBadInput;
  }

  TCaptureInput input(*session.Service, options);
  try {
    input.Open(inPort->Index);
  } catch (const std::exception& e) {
    ReportError(streams, OneLine(e.what()));
    return ExitFailure;
  }
  TClock& clock = SteadyClock();
  TCaptureSink sink(options, streams);
  TReceiveCapture capture(
      {options.QuietMs, options.IdleMs, options.Count, options.TimeoutMs, options.Timestamps},
      SplitThreshold(options.Split > 0, options.Split), sink.AddLine(), clock.NowMs());
  TProgressLine progress(streams.Err, streams.ErrIsTerminal, clock);
  const TCaptureInput::TTake take = [&](const TMyMidiEvent& event) {
    capture.Take(event, clock.NowMs());
  };
  // Only the wait can overrun when the program is held up (stopped, starved):
  // writing the lines never holds up the taking of input, that is the writer's.
  const auto pump = [&](uint32_t ms) {
    const uint32_t before = clock.NowMs();
    input.Wait(ms);
    const uint32_t after = clock.NowMs();
    if (const uint32_t overrun = after - before - ms;
        overrun > HeldUpMs && overrun < UINT32_MAX / 2)
      capture.HeldUp(overrun, after);
    input.TakeAll(take);
    sink.Flush();
    const auto bytes = static_cast<int64_t>(capture.Bytes());
    progress.Update(bytes, [&](double kbps) {
      return CaptureProgressText(bytes, capture.Messages(), kbps);
    });
  };

  int status = ExitOk;
  if (request) {
    // A reply may begin while the request still goes out.
    status = SendToPort(options, streams, *session.Service, *outPort, requestInput, pump);
  }
  // A device that failed or lost its source ends the capture; what arrived before
  // is kept.
  TCaptureOutcome outcome;
  bool outputStalled = false;
  while (status == ExitOk && !Interrupted() && outcome.Failure.empty() && !outcome.SourceGone &&
         (outcome.End = capture.End(clock.NowMs())) == TCaptureEnd::Running) {
    pump(std::min(WaitStepMs, capture.MsUntilEnd(clock.NowMs())));
    capture.SystemRan(input.RunMs(), clock.NowMs());
    if (!sink.Flush())
      break; // nobody reads what follows; the program ends as FinishOutput says
    if ((outputStalled = sink.Full()))
      break;
    outcome.Failure = input.FailureText();
    outcome.SourceGone = input.Disconnected();
  }
  input.Stop(take);
  progress.Finish();
  capture.MarkLastMessageCut();
  // Said before the wait for standard output to take what it holds, which may be long.
  if (outputStalled)
    ReportError(streams, FormatText(TextOutputStalled, sink.LimitMb()));
  sink.Finish();
  input.Close();
  if (status != ExitOk || streams.Out->BrokenPipe())
    return status;

  // What arrived is written whatever else went wrong; an empty capture does not
  // replace a file that may hold an earlier one.
  if (!options.OutputFile.empty()) {
    if (!capture.Received()) {
      if (!request)
        ReportError(streams, FormatText(TextNothingReceived, options.OutputFile.c_str()));
    } else if (!sink.Save()) {
      status = ExitFailure;
    }
  }
  if (outputStalled)
    status = ExitFailure;
  if (const int reported = ReportCapture(options, streams, *inPort, request, capture, outcome);
      reported != ExitOk && status != ExitFailure)
    status = reported;
  if (status == ExitOk && streams.ErrIsTerminal)
    std::fprintf(streams.Err, "%s\n",
                 FormatText(TextReceived, static_cast<unsigned long long>(capture.Bytes()),
                            capture.Messages())
                     .c_str());
  // A capture that a signal ended, with nothing wrong in what arrived, ends as the
  // signal says.
  return status == ExitOk && Interrupted() ? InterruptedStatus() : status;
}

} // namespace

int RunReceive(const TCliOptions& options, TCliStreams& streams) {
  return RunCapture(options, streams, false);
}

int RunRequest(const TCliOptions& options, TCliStreams& streams) {
  return RunCapture(options, streams, true);
}

} // namespace pelrow::cli
