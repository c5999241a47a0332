// The ring through which a JACK process callback hands received events to the
// service thread. When the ring is full the writer stops at the first event that
// does not fit and writes nothing more until the reader has emptied the ring; it
// then puts a loss mark with the bytes it dropped exactly where they were missed,
// so no later event is spliced onto an earlier one and only the message the gap
// interrupts is cut. An interruption (a JACK xrun) is marked at its place too:
// input may be missing there, but nobody can say. The writer side allocates
// nothing and takes no lock.
#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelrow {

class TJackInRing {
public:
  explicit TJackInRing(size_t bytes);
  ~TJackInRing();
  TJackInRing(const TJackInRing&) = delete;
  TJackInRing& operator=(const TJackInRing&) = delete;
  bool Valid() const { return FRing != nullptr; }

  // Writer (process callback). False when the event was lost.
  bool Write(uint64_t time, const uint8_t* data, uint32_t size);
  // Input may be missing here (an xrun): input went unread for spanUs up to time.
  void MarkInterrupted(uint64_t time, uint64_t spanUs = 0);
  // Once a cycle: writes the marks that wait for room.
  void FlushMarks();

  // Reader. Calls onEvent(time, data, size), onLoss(time, bytes) and
  // onInterrupted(time, spanUs) in ring order for every complete record; returns whether
  // there were any.
  template <typename TOnEvent, typename TOnLoss, typename TOnInterrupted>
  bool Drain(TOnEvent onEvent, TOnLoss onLoss, TOnInterrupted onInterrupted);

  // Only while neither side runs.
  void Clear();

private:
  // Records are [uint64 time][uint32 size][size bytes]; a mark has one of these
  // sizes and a uint32 body (the bytes lost, for a loss mark).
  static constexpr uint32_t LossMark = 0xFFFFFFFF;
  static constexpr uint32_t InterruptMark = 0xFFFFFFFE;
  static constexpr size_t HeaderBytes = sizeof(uint64_t) + sizeof(uint32_t);
  static constexpr size_t MarkBytes = HeaderBytes + sizeof(uint32_t);
  static bool IsMark(uint32_t size) { return size >= InterruptMark; }
  void WriteRecord(uint64_t time, uint32_t size, const uint8_t* data);
  void WriteMark(uint64_t time, uint32_t kind, uint32_t value);

  jack_ringbuffer_t* FRing = nullptr;
  // Writer only.
  bool FDropping = false;
  uint64_t FDropTime = 0;
  uint64_t FDroppedBytes = 0;
  bool FInterruptWaiting = false;
  uint64_t FInterruptTime = 0;
  uint32_t FInterruptSpanUs = 0;
  std::vector<uint8_t> FScratch; // reader only
};

template <typename TOnEvent, typename TOnLoss, typename TOnInterrupted>
bool TJackInRing::Drain(TOnEvent onEvent, TOnLoss onLoss, TOnInterrupted onInterrupted) {
  bool any = false;
  char header[HeaderBytes];
  // A record counts once all of it is there; the writer puts it in in parts.
  while (jack_ringbuffer_peek(FRing, header, HeaderBytes) == HeaderBytes) {
    uint64_t time = 0;
    uint32_t size = 0;
    __builtin_memcpy(&time, header, sizeof time);
    __builtin_memcpy(&size, header + sizeof time, sizeof size);
    const size_t body = IsMark(size) ? sizeof(uint32_t) : size;
    if (jack_ringbuffer_read_space(FRing) < HeaderBytes + body)
      break;
    jack_ringbuffer_read_advance(FRing, HeaderBytes);
    any = true;
    if (IsMark(size)) {
      uint32_t value = 0;
      jack_ringbuffer_read(FRing, reinterpret_cast<char*>(&value), sizeof value);
      if (size == LossMark)
        onLoss(time, value);
      else
        onInterrupted(time, value);
      continue;
    }
    FScratch.resize(size);
    jack_ringbuffer_read(FRing, reinterpret_cast<char*>(FScratch.data()), size);
    onEvent(time, FScratch.data(), FScratch.size());
  }
  return any;
}

} // namespace pelrow
