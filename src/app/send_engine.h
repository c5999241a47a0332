// The send engine: transmits the Out box, or its selection, line by line to the
// MIDI output. Each line is parsed into bytes and goes out as one short message
// when it is exactly one complete channel or system message, otherwise as long
// chunks of at most 128 bytes. The pace follows the speed setting on a cumulative
// schedule, and the engine lets the program's pending events run between chunks
// and while it waits, so input, timers and the cancel request keep working.
//
// An output that takes whole messages only (JACK) is handed each message at once,
// with the pause that its bytes earn after it; bytes that form no message cannot
// go there and are reported. A send ends once the device has taken all of its
// data, and reports how many bytes it could not deliver when any failed after they
// were handed over, and whether the server was interrupted meanwhile.
//
// The engine runs inside whatever calls BSendClick (the window's click handler, or
// the command-line program) and returns when the send has ended. It needs no
// display: the event loop, the clock, the lines and the output are handed in.
#pragma once

#include "app/hex_notation.h"
#include "app/status_report.h"
#include "editor/vkstrings.h"
#include "midi/midi_output.h"
#include "support/clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pelrow {

// The lines a send reads: the Out box, or any other list.
class TSendSource {
public:
  virtual ~TSendSource() = default;
  virtual int LineCount() const = 0;
  // The line as it is now (the box stays editable during a send); raises when the
  // index no longer exists, which ends the send with an error.
  virtual std::string Line(int index) const = 0;
  virtual bool HasSelection() const = 0;
  virtual std::string SelectedText() const = 0;
  // Zero-based line of the box on which the selection starts.
  virtual int SelectionFirstLine() const = 0;
};

// A line list as a send source, with an optional selection; for programs without a
// box and for tests.
class TListSendSource final : public TSendSource {
public:
  explicit TListSendSource(const TVKStrings& lines) : FLines(lines) {}

  void SetSelection(std::string text, int firstLine) {
    FSelection = std::move(text);
    FSelectionFirstLine = firstLine;
  }
  void ClearSelection() { FSelection.reset(); }

  int LineCount() const override { return FLines.Count(); }
  std::string Line(int index) const override { return std::string(FLines.Get(index)); }
  bool HasSelection() const override { return FSelection.has_value(); }
  std::string SelectedText() const override { return FSelection.value_or(std::string()); }
  int SelectionFirstLine() const override { return FSelectionFirstLine; }

private:
  const TVKStrings& FLines;
  std::optional<std::string> FSelection;
  int FSelectionFirstLine = 0;
};

// The program's event loop as the engine sees it while a send runs.
class TSendEventLoop {
public:
  virtual ~TSendEventLoop() = default;
  // Runs what is waiting now (input notices, timers, clicks, keys), once.
  virtual void ProcessPending() = 0;
  // Waits about ms, letting waiting events run during or after the wait.
  virtual void Wait(uint32_t ms) = 0;
};

// An event loop with nothing to run: waiting is sleeping. For programs that send
// from a plain thread.
class TSleepingEventLoop final : public TSendEventLoop {
public:
  void ProcessPending() override {}
  void Wait(uint32_t ms) override;
};

// Keys that reach the engine through the window's key preview.
enum class TSendKey { F4, Esc };

class TSendEngine {
public:
  using TNotifyEvent = std::function<void(TSendEngine& sender)>;
  // The live speed setting, -1000..1000; read before every chunk, so a change
  // during a send takes effect at the next chunk.
  using TSpeedSource = std::function<int()>;

  TSendEngine(TClock& clock, TSendEventLoop& eventLoop, TMidiOutputBase& output,
              TShowStatus showStatus, TSpeedSource speed);

  // Starts a send of source when none runs and returns when it has ended; while
  // one runs (a second click, the context menu's Send), asks it to stop instead.
  void BSendClick(TSendSource& source);
  // Key release seen by the window first: F4 while idle sends, Esc while sending
  // cancels; anything else does nothing.
  void KeyUp(TSendKey key, TSendSource& source);
  void Cancel();
  // Asked before the window closes: true when it may close now. During a send the
  // send is cancelled, false is answered, and OnSendEnded follows with
  // CloseRequested() set; the window closes then.
  bool QueryClose();

  // A pause after every complete System Exclusive message (after its F7), for
  // devices that store each message before they can take the next; 0 for none.
  void SetMessageGap(uint32_t ms) { FMessageGapMs = ms; }
  uint32_t MessageGap() const { return FMessageGapMs; }

  bool Sending() const { return FSending; }
  bool CancelRequested() const { return FCancelSend; }
  bool CloseRequested() const { return FCloseRequested; }
  // Bytes handed to the device by the running or the last send.
  int TotalSent() const { return FTotalSent; }

  // The send began (caption "Cancel (Esc)", clear buttons off, busy cursor) and
  // ended (everything back); OnSendEnded also follows a failure.
  TNotifyEvent OnSendStarted;
  TNotifyEvent OnSendEnded;

private:
  enum class TOutcome { Completed, Failed };
  static constexpr int FirstSpeedCheck = 2000; // no setting has it: the first check computes
  // The cumulative schedule: bytes since the base time against the time elapsed.
  struct TPace {
    uint32_t BaseTime = 0;
    int64_t BytesSinceBase = 0;
    double MsPerByte = 1.0;
    int LastSpeed = FirstSpeedCheck;
  };
  struct TProgress {
    uint32_t RateTime = 0;
    int64_t RateBytes = 0;
    double Rate = 0.0;
    int FirstLine = 0;
    int LineCount = 0;
  };

  void Run(TSendSource& source);
  TOutcome SendLines(TSendSource& source);
  // The speed setting now; a change restarts the schedule.
  int CheckSpeed();
  // "Sending line ..." at most every 100 ms, for more than two lines.
  void ShowProgress(int lineIndex);
  // text with the pause after each message named, when there is one.
  std::string WithPause(std::string text) const;
  // Counts count bytes as sent and waits as far as the schedule is ahead, plus the
  // message gap when a message ended and more follows.
  void PaceAfter(int speed, int count, bool messageEnded);
  // Hand a short message or long data to the device; false (reported) when there
  // is no device or it refused the data.
  bool SendBytes(uint8_t status, uint8_t data1, uint8_t data2);
  bool SendBytes(const uint8_t* data, int count);
  bool OutputOpen();
  bool Taken(bool taken);
  // Bytes of this send the output has not failed: once a send breaks off, what was
  // still on its way completes first, so that only what went out counts as sent.
  int BytesThatWentOut();
  int FailedOfThisSend() const;
  // Returns when the output has completed every long buffer, or on a cancel.
  void AwaitDelivery();
  void Report(const std::string& text, TStatusKind kind, bool immediate);

  TClock& FClock;
  TSendEventLoop& FEventLoop;
  TMidiOutputBase& FOutput;
  TShowStatus FShowStatus;
  TSpeedSource FSpeed;
  THexParser FParser;
  bool FSending = false;
  bool FCancelSend = false;
  bool FCloseRequested = false;
  int FTotalSent = 0;
  int64_t FFailedBefore = 0; // the output's failed bytes when the send began
  // Bytes that formed no message, which an output of whole messages cannot carry.
  int64_t FStrayBytes = 0;
  int FFirstStrayLine = 0;
  uint32_t FMessageGapMs = 0;
  TPace FPace;
  TProgress FProgress;
};

} // namespace pelrow
