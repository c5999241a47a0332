// An input port over a raw MIDI byte stream. A backend feeds the bytes it receives,
// in any split, from any thread; the stream's own thread parses them (running
// status, real-time bytes inside SysEx, SysEx cut short by another status), fills
// the caller's long buffers in order and makes the input callbacks. While no
// buffer is free the bytes wait here, up to a bound; input beyond it is reported
// as Overflow, and the rest of a cut message is skipped up to the next status byte
// (an F7 there belongs to the cut message and is skipped too). An Overflow notice
// comes where the loss was, once the skipping is over, with every byte it cost.
// The waiting bytes are held in blocks of a fixed size, so a large backlog never
// needs one large copy that would hold up the feeding thread.
//
// An interruption of the MIDI system (a JACK xrun, cycles skipped while the program
// was held up) is no gap of known size, but a message under way across it may have
// lost its middle: that message ends there as damaged, and the bytes after the
// interruption up to the next status byte (an F7 there too) are skipped, since they
// belong to no message that begins here. The Interrupted notice comes once that
// skipping is over, with the number of bytes skipped. An interruption is told only
// where input was at risk: a message was under way, input came within NearInputMs
// before it began, or the first input after it comes within NearInputMs of its end.
// One that nothing came near is dropped, and interruptions with no input between
// them are told once.
#pragma once

#include "midi/service/midi_message_length.h"
#include "midi/service/midi_service.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace pelrow {

class TMidiInputStream : public TMidiInPort {
public:
  static constexpr size_t DefaultLimitBytes = size_t{64} << 20;
  static constexpr size_t BlockBytes = size_t{64} << 10;
  static constexpr uint32_t NearInputMs = 1000;

  explicit TMidiInputStream(TMidiInCallback callback, size_t limitBytes = DefaultLimitBytes);
  ~TMidiInputStream() override;
  TMidiInputStream(const TMidiInputStream&) = delete;
  TMidiInputStream& operator=(const TMidiInputStream&) = delete;

  TMidiResult Start() override;
  // Stops taking input; what arrived before is delivered as far as free buffers
  // allow, and the rest is reported as Overflow with its size in bytes.
  TMidiResult Stop() override;
  TMidiResult Reset() override;
  TMidiResult AddBuffer(TMidiBuffer& buffer) override;

  // Bytes as the device sent them; nowMs on TimeGetTime's clock. Ignored unless
  // started.
  void Feed(const uint8_t* data, size_t size, uint32_t nowMs);
  void Feed(const uint8_t* data, size_t size);
  // Input was lost before it reached the stream (a backend's own buffer ran full):
  // reported as Overflow at this point of the stream, like input refused here.
  // lostBytes 0: the backend does not know how much.
  void FeedLost(uint32_t nowMs, uint64_t lostBytes = 0);
  // The device's own input overran before the backend read it, by its count of the
  // bytes it dropped: as FeedLost, reported as Overrun.
  void FeedOverrun(uint32_t nowMs, uint64_t lostBytes);
  // The backend was interrupted for spanMs up to nowMs (a JACK xrun, skipped
  // cycles): see above for when and how it is reported.
  void FeedInterrupted(uint32_t nowMs, uint32_t spanMs = 0);
  // The source was disconnected from outside: reported as Disconnected at this
  // point of the stream; a SysEx under way is handed back cut short.
  void FeedDisconnected(uint32_t nowMs);
  // The port can deliver nothing more (its MIDI system went away): reported as
  // Failed with the backend's result code, after everything fed before it.
  void FeedFailed(TMidiResult reason, uint32_t nowMs);

protected:
  // Derived ports whose Feed callers live in their own members stop the stream
  // first in their destructor; calling it twice is harmless.
  void Shutdown();

private:
  enum class TMarkKind : uint8_t { Time, Lost, Overrun, Interrupted, Disconnected };
  struct TMark {
    size_t Offset;
    uint32_t Timestamp;
    TMarkKind Kind = TMarkKind::Time;
    uint64_t LostBytes = 0;       // with Lost and Overrun; 0 when unknown
    TMidiResult Failure = MidiOk; // with Disconnected: the port failed for this reason
    uint32_t SpanMs = 0;          // with Interrupted: how long before Timestamp it began
  };
  // An interruption reached in the stream and not yet reported.
  struct TInterruption {
    bool Open = false;
    bool Near = false;    // input was at risk: it will be reported
    bool Told = false;    // reported already while its skipping goes on
    bool Cut = false;     // it ended a message whose pieces had all been handed on
    uint32_t End = 0;     // when input could come again
    uint64_t Skipped = 0; // bytes of a message it cut, not kept
  };
  // Bytes as fed, with the marks that fall into them (offsets within the block).
  struct TBlock {
    std::vector<uint8_t> Bytes;
    std::vector<TMark> Marks;
  };
  enum class TRequest { None = 0, Stop = 1, Reset = 2 };

  void Run();
  TBlock& BlockWithRoom();
  void PushMark(const TMark& mark);
  void EndRefusal();
  void ActOnMark(const TMark& mark);
  void OpenInterruption(const TMark& mark);
  bool PassesInterruption(uint8_t byte, uint32_t timestamp);
  void TellInterruption();
  void CloseInterruption();
  void NoteInput(uint32_t timestamp);
  void FlushLoss();
  void CountSkipped(uint32_t timestamp);
  void TakeNextBlock();
  void HandleRequest(std::unique_lock<std::mutex>& lock);
  uint64_t DeliverBeforeStop(std::unique_lock<std::mutex>& lock);
  uint64_t UnreachedLoss() const;
  void ParseWork();
  bool ParseSysExRun();
  void ParseByte(uint8_t byte, uint32_t timestamp);
  void ParseStatus(uint8_t status, uint32_t timestamp);
  void ParseData(uint8_t byte, uint32_t timestamp);
  bool AcquireBuffer(uint32_t timestamp);
  void HandBack(TMidiInCode code);
  void EndSysEx(TMidiInCode code);
  void ClearParser();
  uint32_t TimestampAt(size_t offset);
  void Notify(TMidiInCode code, uint32_t message, TMidiBuffer* buffer, uint32_t timestamp);

  const TMidiInCallback FCallback;
  const size_t FLimit;

  std::mutex FMutex;
  std::condition_variable FWake;
  std::condition_variable FDone;
  // Guarded by FMutex.
  std::deque<TBlock> FIncoming;
  std::vector<TBlock> FSpare; // emptied blocks kept for reuse
  size_t FIncomingBytes = 0;
  std::deque<TMidiBuffer*> FFree;
  size_t FBacklog = 0; // bytes of the block being parsed that wait
  bool FStarted = false;
  // Input refused since the last accepted Feed: marked where it would have been
  // once the run of refusals is over.
  uint64_t FRefusedBytes = 0;
  uint32_t FRefusedTime = 0;
  bool FQuit = false;
  uint32_t FStartMs = 0;
  TRequest FRequest = TRequest::None;
  uint64_t FRequestSerial = 0;
  uint64_t FDoneSerial = 0;
  std::atomic<bool> FRequestPending{false};

  // Owned by the stream's thread.
  std::vector<uint8_t> FWork;
  std::vector<TMark> FWorkMarks;
  size_t FPos = 0;
  size_t FMarkIndex = 0;
  bool FBlocked = false;
  bool FInSysEx = false;
  bool FSkipData = false;
  bool FSkippingLoss = false; // the skipped bytes are the rest of a lost message
  // ... of a message that an overrun of the device's input cut.
  bool FSkippingOverrun = false;
  // A loss reached in the stream and not yet reported: it grows by the bytes
  // skipped after it.
  bool FLossPending = false;
  bool FLossCounted = true;
  bool FLossOverrun = false; // the loss is the device's overrun
  uint64_t FLossBytes = 0;
  uint32_t FLossTime = 0;
  TInterruption FInterruption;
  std::chrono::steady_clock::time_point FInterruptionDeadline;
  bool FHaveInput = false;
  uint32_t FLastInputMs = 0;
  bool FMarkSinceInput = false; // a loss or interruption was told and no input since
  uint8_t FStatus = 0;
  uint8_t FMessage[3] = {};
  int FCount = 0;
  int FNeeded = 0;
  bool FShortOpen = false; // a short message has begun and is not complete
  TMidiBuffer* FCurrent = nullptr;
  uint32_t FCurrentTimestamp = 0;

  std::thread FThread;
};

} // namespace pelrow
