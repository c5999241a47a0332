// The receive pump: takes what the MIDI input delivers and shows it in the In box.
// Every event is echoed to the output first when MIDI thru is on. Short messages
// are shown at once. Long messages are shown at once too, until a burst of them
// turns out to be a bulk dump (8 pending or 500 bytes within 1.5 s of the burst's
// start): then they are collected behind a progress panel and written in one batch
// once no long message has come for a second. Where input went missing, the user
// is told at once, a mark line stands at the place, and a dump's summary says that
// it is incomplete.
//
// Runs on the UI thread; needs no display: the clock, the timer, the lines, the
// panel and the output are handed in.
#pragma once

#include "app/receive_display.h"
#include "app/status_report.h"
#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "support/clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {

// The floating panel shown while a bulk dump arrives: a progress text and a rate.
class TBulkPanel {
public:
  virtual ~TBulkPanel() = default;
  virtual bool Visible() const = 0;
  // Empties both texts, places the panel over the In box and shows it.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // immediate paints the panel at once instead of with the next repaint.
  virtual void SetTexts(const std::string& progress, const std::string& rate, bool immediate) = 0;
};

// The receive options of the Options menu and the settings.
struct TReceiveOptions {
  bool MidiThru = false;
  // Show System Exclusive data only; short messages are still echoed.
  bool SysExOnly = false;
  bool SplitLongMessages = false;
  // Most bytes per line when splitting; 0 or less means no limit.
  int SplitLongMessagesThreshold = 32;

  // Bytes per line for long data: the threshold when splitting is on, else -1.
  int SplitThreshold() const;
};

class TReceivePump {
public:
  static constexpr uint32_t BulkTimerIntervalMs = 1000;

  // The pump owns its timer (the bulk-dump timer) and installs its handler.
  TReceivePump(TClock& clock, std::unique_ptr<TTimer> timer, TReceiveLines& lines,
               TBulkPanel& panel, TMidiOutputBase& output, TShowStatus showStatus);

  // A batch still being shown is dropped.
  ~TReceivePump();
  TReceivePump(const TReceivePump&) = delete;
  TReceivePump& operator=(const TReceivePump&) = delete;

  TReceiveOptions& Options() { return FOptions; }

  // With a poster, a large batch is formatted on a worker thread and its lines go
  // into the box in pieces posted back, so the UI thread never waits for all of it;
  // what arrives meanwhile is echoed at once and shown after the batch. Without
  // one, every batch is shown at once.
  void SetBatchPoster(TUiPoster* poster) { FBatchPoster = poster; }
  // A batch at least this large goes to the worker thread.
  static constexpr int BackgroundBatchBytes = 1 << 20;
  bool ShowingBatch() const { return FBatchJob != nullptr; }

  // While held, nothing goes into the box (it is being saved): what arrives is still
  // echoed at once, but shown only on release, in order, after the rest of a batch
  // that was being shown; a bulk dump goes on being collected meanwhile.
  void Hold();
  void Release();
  bool Held() const { return FHeld; }

  // The input's data handler: takes every waiting event.
  void MidiInData(TMidiInput& sender);
  // One received event from the input of that name.
  void HandleEvent(std::unique_ptr<TMyMidiEvent> event, const std::string& inputName);
  // The bulk-dump timer's handler: writes the dump once the input has been quiet.
  void AsnchRecvTimerTimer();

  // Menu commands; each answers the new state for the menu's check mark.
  bool MidiThru1Click();
  bool Splitlongsysexmessages1Click();
  bool EnableActiveSensing1Click(TMidiInputBase& input);
  bool EnableMidiTimeCode1Click(TMidiInputBase& input);

  bool BulkMode() const { return FBulkMode; }
  int PendingBytes() const { return FPendingBytes; }
  uint64_t HandledEvents() const { return FHandledEvents; }
  TTimer& Timer() { return *FTimer; }

private:
  // One long message: a System Exclusive message longer than a receive buffer comes
  // in several pieces, which are one message for the display and the counts.
  struct TPendingEvent {
    std::vector<std::unique_ptr<TMyMidiEvent>> Pieces;
    int Bytes = 0;
    // Where the message is shown in the box; FirstLine -1 when it is not shown.
    int FirstLine = -1;
    int LineCount = 0;
    int Limit = -1; // the line limit it was shown with
    // Bytes on its last line while the next piece may continue that line.
    int OpenLineBytes = 0;
    // Its lines are not all together (something was shown between its pieces).
    bool Scattered = false;
    bool Reported = false;
    // A gap's mark line instead of a message: its one piece is the gap event.
    bool IsGap() const { return Pieces.size() == 1 && Pieces.front()->Gap != TInputGap::None; }
    // The message was cut short: its end never came.
    bool Damaged() const { return !Pieces.empty() && Pieces.back()->Damaged; }
  };

  // What went missing during a burst, for the dump's summary.
  struct TBurstGaps {
    bool Lost = false;
    bool Uncounted = false;
    uint64_t LostBytes = 0;
    int Cut = 0; // messages cut short
    bool MayBeLost = false;
  };

  struct TBatchJob;

  void ShowEvent(std::unique_ptr<TMyMidiEvent> event);
  void SendThru(const TMyMidiEvent& event, const std::string& inputName);
  void ReceiveGap(std::unique_ptr<TMyMidiEvent> event);
  bool InBurst(uint32_t now) const;
  void ShowGap(TPendingEvent& pending);
  void ReportDump(int total, const std::string& rate);
  bool IsThruLoop(const std::string& inputName);
  void ReceiveLongMessage(std::unique_ptr<TMyMidiEvent> event);
  void ContinueLongMessage(std::unique_ptr<TMyMidiEvent> piece);
  void ShowPiece(TPendingEvent& pending, const TMyMidiEvent& piece);
  void ReportShownMessage();
  void TakeBackShownMessages();
  bool ShownLinesIntact(const TPendingEvent& pending) const;
  // Shows the collected dump; false when it goes on being shown in the background.
  bool ShowBatch();
  // False when no worker could be started; the batch is then shown at once.
  bool StartBatchJob(int limit, int total, const std::string& rate);
  static void RunBatchJob(const std::shared_ptr<TBatchJob>& job, TUiPoster& poster);
  void EndBatchJob(TBatchJob& job);
  // A step of the batch worker, run at once or, while held, on release.
  void RunBatchStep(std::function<void(TReceivePump&)> step);
  void ShowBacklog();
  void EndBatch();
  void CancelBatch();
  void ClearPendingMessages();
  void UpdateBulkPanel(int bytes);
  void SetBulkPanelText(const std::string& text);
  void Report(const std::string& text, TStatusKind kind);

  TClock& FClock;
  std::unique_ptr<TTimer> FTimer;
  TReceiveLines& FLines;
  TBulkPanel& FPanel;
  TMidiOutputBase& FOutput;
  TShowStatus FShowStatus;
  TReceiveOptions FOptions;

  std::vector<TPendingEvent> FPendingEvents;
  int FPendingBytes = 0;
  bool FBulkMode = false;
  uint32_t FBurstStartTime = 0;
  uint32_t FLastLongMsgTime = 0;
  uint32_t FRecvRateTime = 0;
  int64_t FRecvRateBytes = 0;
  double FRecvRate = 0.0;
  TBurstGaps FBurstGaps;
  uint32_t FLastGapTime = 0;
  bool FThruLoopReported = false;
  // The last long piece left a System Exclusive message unfinished.
  bool FMessageOpen = false;
  // A gap came while a System Exclusive message was unfinished.
  bool FOpenBeforeGap = false;
  uint64_t FHandledEvents = 0;

  TUiPoster* FBatchPoster = nullptr;
  std::shared_ptr<TBatchJob> FBatchJob;
  std::thread FBatchWorker;
  // Events that came while a batch was shown in the background or the pump was
  // held, in order.
  std::vector<std::unique_ptr<TMyMidiEvent>> FBacklog;
  bool FHeld = false;
  std::vector<std::function<void(TReceivePump&)>> FHeldBatchSteps;
};

} // namespace pelrow
