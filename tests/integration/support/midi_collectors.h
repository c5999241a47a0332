// What a caller of the MIDI service sees, gathered for comparison: an input
// collector that keeps buffers queued as the device layer does and rebuilds the
// byte stream, and an output sender that keeps long buffers alive until completed.
#pragma once

#include "midi/service/midi_service.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelrow::testing {

// Deterministic MIDI data: SysEx messages of the given total length.
std::vector<uint8_t> SysEx(size_t length, uint8_t seed);
std::vector<uint8_t> SysExBurst(size_t messages, size_t lengthEach);
// A dump as a synthesizer sends it: SysEx messages of many lengths, a note now and then.
std::vector<uint8_t> MixedDump(size_t size);
// bytes cut into pieces of length (the last one shorter), as lines of the Out box.
std::vector<std::vector<uint8_t>> Lines(const std::vector<uint8_t>& bytes, size_t length);
// SysEx messages that carry their own number and checksum, so a splice shows:
// F0 7D, the number in three 7-bit bytes, payload, a 7-bit sum of all before, F7.
std::vector<uint8_t> TaggedSysEx(uint32_t number, size_t length);
std::vector<uint8_t> TaggedBurst(uint32_t firstNumber, size_t messages, size_t lengthEach);
// What a received stream of tagged messages holds. losses are the stream offsets
// at which loss was reported; a message may be cut (no F7) only right before one.
struct TTaggedCheck {
  size_t Whole = 0;        // complete messages with a right checksum, in order
  size_t Cut = 0;          // messages cut short right at a reported loss
  uint32_t LastNumber = 0; // number of the last whole message
  std::string Problem;     // empty when nothing else was found
};
TTaggedCheck CheckTagged(const std::vector<uint8_t>& bytes, const std::vector<size_t>& losses);
// A bulk dump of tagged messages as a synthesizer's memory gives it: messages of
// 1 to 4 KB, numbered from 0, and now and then one far larger than a JACK event.
std::vector<uint8_t> TaggedDump(size_t messages);
// Received hex lines as the In box and pelrow-cli show them, read back: the bytes,
// and the stream offsets of the marks of certain loss, of a message cut short, and
// of possible loss.
struct TMarkedBytes {
  std::vector<uint8_t> Bytes;
  std::vector<size_t> LossOffsets;
  std::vector<size_t> CutOffsets;
  std::vector<size_t> MayBeLostOffsets;
  // Where any mark stands: a message may be cut or missing there.
  std::vector<size_t> AllMarks() const;
};
TMarkedBytes ReadMarkedLines(const std::vector<std::string>& lines);
// The number of the first of messages 0 to count-1 of a tagged dump that is missing
// or cut where no mark stands (marks: offsets of marks of either kind); -1 when
// every gap is marked at its place.
long FirstUnmarkedGap(const std::vector<uint8_t>& bytes, std::vector<size_t> marks, uint32_t count);
// Empty when equal, else the sizes and the first position where they differ.
std::string Difference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want);
// As Difference, but where interrupted (the receiver said the MIDI system was
// interrupted while input came) a System Exclusive message may also be cut short:
// its start kept without F7 and its rest gone. Nothing may be joined, changed or
// left out otherwise.
std::string DifferenceBesideCuts(const std::vector<uint8_t>& got,
                                 const std::vector<uint8_t>& want, bool interrupted);

class TInputCollector {
public:
  static constexpr size_t BufferCount = 16;
  static constexpr size_t BufferBytes = 1024;

  TInputCollector();
  TMidiInCallback Callback();
  // Queues the buffers with the port; they are re-queued after each hand-back.
  void Attach(TMidiInPort& port);
  // Stop re-queueing (before Reset or closing the port).
  void Detach();
  // Waits until count bytes arrived or timeoutMs passed; returns them all.
  std::vector<uint8_t> WaitFor(size_t count, int timeoutMs);
  // No buffer is still queued with the service.
  bool AllHandedBack();
  int Overflows();
  int LongErrors();
  int Disconnects();
  // Why the port failed for good; MidiOk while it works.
  TMidiResult Failure();
  // Stream offsets at which an overflow was reported, and the bytes it said were lost.
  std::vector<size_t> LossOffsets();
  // Stream offsets at which an interruption (input may be missing) was reported.
  std::vector<size_t> InterruptOffsets();
  uint64_t LostBytes();
  // Stop re-queueing buffers (a caller that stalls) or start again.
  void Stall(bool stalled);

private:
  void OnNotice(const TMidiInNotice& notice);

  std::mutex FLock;
  std::condition_variable FArrived;
  std::vector<uint8_t> FBytes;
  int FOverflows = 0;
  int FLongErrors = 0;
  int FDisconnects = 0;
  TMidiResult FFailure = MidiOk;
  std::vector<size_t> FLossOffsets;
  std::vector<size_t> FInterruptOffsets;
  uint64_t FLostBytes = 0;
  bool FStalled = false;
  std::vector<TMidiBuffer*> FHeld;
  TMidiInPort* FPort = nullptr;
  std::vector<std::vector<uint8_t>> FMemory;
  std::vector<TMidiBuffer> FBuffers;
};

class TOutputSender {
public:
  TMidiOutCallback Callback();
  // Queues a copy of bytes as one long buffer.
  TMidiResult SendLong(TMidiOutPort& port, const std::vector<uint8_t>& bytes);
  // Waits until every long buffer sent so far has completed.
  bool WaitForCompletions(int timeoutMs);
  size_t Completed();
  size_t Sent();
  // Bytes of completed buffers the port said it delivered, and those it marked failed.
  uint64_t DeliveredBytes();
  uint64_t FailedBytes();

private:
  struct TOwned {
    std::vector<uint8_t> Bytes;
    TMidiBuffer Buffer;
  };
  std::mutex FLock;
  std::condition_variable FDone;
  std::vector<std::unique_ptr<TOwned>> FOwned;
  size_t FCompleted = 0;
  uint64_t FDeliveredBytes = 0;
  uint64_t FFailedBytes = 0;
};

} // namespace pelrow::testing
