// Sending from the command line.
#include "cli/send_command.h"

#include "app/send_engine.h"
#include "cli/interrupt.h"
#include "cli/midi_session.h"
#include "cli/progress_line.h"
#include "midi/midi_output.h"
#include "support/clock.h"
#include "support/text_format.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

namespace pelrow::cli {

namespace {

constexpr const char* TextNothingToSend = "nothing to send: the input holds no MIDI bytes";
constexpr const char* TextWarning = "warning: %s";
constexpr const char* TextOutputStuck =
    "the MIDI output passed nothing on for %d s (%d messages were not sent)";
constexpr const char* TextCancelled = "Sending cancelled (the output took %d of %d bytes)";
// An output that passes nothing on for this long is taken to be stuck.
constexpr uint32_t OutputStuckMs = 10000;
constexpr uint32_t OutputPollMs = 5;
// Short messages are not counted by the output; this leaves the backend time to
// pass the last of them on before the port closes.
constexpr uint32_t ShortMessageGraceMs = 50;

// The send engine's event loop: waits as told and, between chunks and waits,
// cancels the send on Ctrl-C and redraws the progress.
class TCliSendLoop final : public TSendEventLoop {
public:
  TCliSendLoop(const TWaitFunction& wait, std::function<void()> onPending)
      : FWait(wait), FOnPending(std::move(onPending)) {}
  void ProcessPending() override { FOnPending(); }
  void Wait(uint32_t ms) override {
    FWait(ms);
    FOnPending();
  }

private:
  const TWaitFunction& FWait;
  std::function<void()> FOnPending;
};

// Waits until the output has passed every long message on; false with the reason
// when it does not. Also after Ctrl-C: what was handed over goes out whole (a
// second Ctrl-C ends the program at once).
bool WaitUntilPassedOn(TMidiOutput& output, const TWaitFunction& wait, std::string& error) {
  TClock& clock = SteadyClock();
  int32_t pending = output.PendingCount();
  uint32_t lastChange = clock.NowMs();
  while (pending > 0) {
    wait(OutputPollMs);
    const int32_t now = output.PendingCount();
    if (now != pending) {
      pending = now;
      lastChange = clock.NowMs();
    } else if (clock.NowMs() - lastChange > OutputStuckMs) {
      error = FormatText(TextOutputStuck, static_cast<int>(OutputStuckMs / 1000), pending);
      return false;
    }
  }
  wait(ShortMessageGraceMs);
  return true;
}

void Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

int SendToPort(const TCliOptions& options, TCliStreams& streams, TMidiService& service,
               const TPort& port, const TSendInput& input, const TWaitFunction& wait) {
  TMidiOutput output(service);
  output.SetDeviceID(port.Index);
  try {
    output.Open();
  } catch (const std::exception& e) {
    ReportError(streams, OneLine(e.what()));
    return ExitFailure;
  }

  std::string failure;
  std::string outcome;
  std::vector<std::string> warnings;
  const TShowStatus showStatus = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if (kind == TStatusKind::Error || kind == TStatusKind::ErrorBox) {
      if (failure.empty())
        failure = text;
    } else if (kind == TStatusKind::Warning) {
      warnings.push_back(text); // data may be missing: said, but no failure
    } else if (kind == TStatusKind::Plain) {
      outcome = text; // the last one says how the send ended
    }
  };
  TProgressLine progress(streams.Err, streams.ErrIsTerminal, SteadyClock());
  TSendEngine* running = nullptr;
  TCliSendLoop loop(wait, [&] {
    if (Interrupted() && running != nullptr)
      running->Cancel();
    if (running != nullptr) {
      const int64_t sent = running->TotalSent();
      progress.Update(sent, [&](double kbps) { return SendProgressText(sent, input.Bytes, kbps); });
    }
  });
  TSendEngine engine(SteadyClock(), loop, output, showStatus, [&] { return options.Speed; });
  engine.SetMessageGap(options.GapMs);
  running = &engine;
  const int64_t failedBefore = output.FailedBytes();
  TListSendSource source(input.Lines);
  engine.BSendClick(source);
  progress.Finish();

  std::string stuck;
  const bool passedOn = failure.empty() && WaitUntilPassedOn(output, wait, stuck);
  output.Close();
  for (const std::string& warning : warnings)
    ReportError(streams, FormatText(TextWarning, warning.c_str()));
  if (!failure.empty()) {
    ReportError(streams, failure);
    return ExitFailure;
  }
  if (!passedOn) {
    ReportError(streams, stuck);
    return ExitFailure;
  }
  if (engine.CancelRequested()) {
    // What the output could not deliver after all was handed over, not taken.
    const int64_t sent = engine.TotalSent();
    const int64_t taken = sent - std::min(sent, output.FailedBytes() - failedBefore);
    ReportError(streams, FormatText(TextCancelled, static_cast<long long>(taken),
                                    static_cast<long long>(input.Bytes)));
    return ExitFailure;
  }
  if (streams.ErrIsTerminal)
    std::fprintf(streams.Err, "%s\n", outcome.c_str());
  return ExitOk;
}

int RunSend(const TCliOptions& options, TCliStreams& streams) {
  // The port first: a mistyped name must not wait for a large input to be read.
  std::string error;
  TMidiSession session;
  if (!StartMidi(options, session, error)) {
    ReportError(streams, error);
    return ExitFailure;
  }
  const TPort* port = FindPort(session.Ports, TPortDirection::Out, options.OutPort, error);
  if (port == nullptr) {
    ReportError(streams, error);
    return ExitUsage;
  }
  TSendInput input;
  if (!ReadNonEmptySendInput(options.SendItems, *streams.In, input, TextNothingToSend, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  if (!options.Raw && !CheckWholeMessages(input, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  return SendToPort(options, streams, *session.Service, *port, input, Sleep);
}

} // namespace pelrow::cli
