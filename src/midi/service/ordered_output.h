// An output's short and long messages in the order they were sent, handed to a
// backend's writer thread piece by piece. Unlike TMidiOutputQueue (whole buffers,
// completed by the queue itself) a short message keeps its place behind long data
// that is still on its way, so it never lands inside a SysEx split into pieces, and
// the backend says when a long buffer has really left (JACK: once its last piece is
// written into a period). Reset is carried out by the writer thread between two
// pieces, so a buffer is never completed (and freed by its owner) while it is
// being written. What a reset drops never counts as sent: a long buffer not yet
// wholly written completes marked failed (its BytesRecorded says how much of it
// went out), a short message adds its bytes to FailedShortBytes.
#pragma once

#include "midi/service/midi_service.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace pelrow {

class TOrderedOutput {
public:
  // A run of bytes to write as one event. Valid until PieceSent.
  struct TPiece {
    const uint8_t* Data = nullptr;
    uint32_t Count = 0;
    bool EndsBuffer = false; // the last piece of a long buffer
    bool FromBuffer = false; // part of a long buffer, not a short message
    bool Flush = false;      // no bytes: what the writer holds back goes out now
  };

  explicit TOrderedOutput(TMidiOutCallback completion);

  // Caller side.
  TMidiResult PushShort(uint32_t packed);
  TMidiResult PushLong(TMidiBuffer& buffer);
  // Nothing more follows for now: the writer sends what it holds back, in order
  // behind everything queued before.
  TMidiResult PushFlush();
  // Waits until the writer has completed every queued and written buffer.
  void Reset();
  // Waits at most limit until everything queued has been written and every buffer
  // completed; true when nothing is left.
  bool WaitUntilWritten(std::chrono::milliseconds limit);
  // Bytes of short messages taken but not sent: refused by the transport, or
  // dropped by a reset or close.
  uint64_t FailedShortBytes() const;
  // Asks the writer to end; with no writer left the caller completes what remains
  // (marked MidiBufferFailed when failed: it will not go out).
  void Quit();
  void CompleteRemaining(bool failed = false);

  // Writer side.
  bool Quitting() const;
  // A reset or quit is waiting: a writer stuck on a full transport gives up.
  bool Interrupted() const;
  // Sleeps until a reset or quit is asked for or maxWait passed; with wakeOnWork
  // also when something is queued.
  void Wait(std::chrono::microseconds maxWait, bool wakeOnWork);
  bool NextPiece(uint32_t maxBytes, TPiece& piece);
  // failed: the transport did not take the piece (refused, or given up on for a
  // reset or close).
  void PieceSent(const TPiece& piece, bool failed = false);
  // The oldest written buffer has left the program: its completion runs now, marked
  // MidiBufferFailed when the transport refused some of it for good.
  void CompleteOldest(bool failed = false);
  size_t WrittenCount() const;
  // Carries out a pending reset; true when there was one (the writer then drops
  // whatever the transport still holds of the old data).
  bool ServeReset();

private:
  struct TItem {
    TMidiBuffer* Buffer = nullptr; // a long message, or null for a short one
    bool Flush = false;            // a flush, with no bytes
    std::array<uint8_t, 3> Short{};
    uint32_t Count = 0;
    uint32_t Offset = 0;    // bytes already handed to the transport
    uint32_t Delivered = 0; // of those, the bytes it took
  };

  void Complete(TMidiBuffer* buffer, bool failed = false);
  void CompleteAllLocked(std::unique_lock<std::mutex>& lock, bool failed = false);

  TMidiOutCallback FCompletion;
  mutable std::mutex FMutex;
  std::condition_variable FWake;
  std::condition_variable FResetDone;
  std::condition_variable FWrittenAll;
  std::deque<TItem> FQueue;
  std::deque<TMidiBuffer*> FWritten; // fully written, completion outstanding
  bool FResetAsked = false;
  uint64_t FResetsServed = 0;
  bool FQuit = false;
  uint64_t FFailedShortBytes = 0;
};

// An output port whose writer thread takes its messages from a TOrderedOutput.
class TOrderedOutPort : public TMidiOutPort {
public:
  TMidiResult ShortMsg(uint32_t packed) override { return FQueue.PushShort(packed); }
  TMidiResult LongMsg(TMidiBuffer& buffer) override { return FQueue.PushLong(buffer); }
  TMidiResult Reset() override {
    FQueue.Reset();
    return MidiOk;
  }
  TMidiResult Flush() override { return FQueue.PushFlush(); }
  bool WaitUntilWritten(uint32_t ms) override {
    return FQueue.WaitUntilWritten(std::chrono::milliseconds(ms));
  }
  uint64_t FailedShortBytes() const override { return FQueue.FailedShortBytes(); }

protected:
  explicit TOrderedOutPort(TMidiOutCallback completion) : FQueue(std::move(completion)) {}

  TOrderedOutput FQueue;
};

} // namespace pelrow
