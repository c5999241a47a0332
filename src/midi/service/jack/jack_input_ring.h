// The ring through which a JACK process callback hands received events to the
// service thread. When the ring is full the writer stops at the first event that
// does not fit and leaves a loss mark exactly there; it writes nothing more until
// the reader has emptied the ring, so no later event is spliced onto an earlier
// one and only the message the gap interrupts is cut. The writer side allocates
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
  // Input may have been lost here (an xrun): a loss mark unless one is pending.
  void MarkLoss(uint64_t time);

  // Reader. Calls onEvent(time, data, size) and onLoss(time) in ring order for
  // every complete record; returns whether there were any.
  template <typename TOnEvent, typename TOnLoss> bool Drain(TOnEvent onEvent, TOnLoss onLoss);

  // Only while neither side runs.
  void Clear();

private:
  static constexpr uint32_t LossMark = 0xFFFFFFFF;
  static constexpr size_t HeaderBytes = sizeof(uint64_t) + sizeof(uint32_t);
  void WriteRecord(uint64_t time, uint32_t size, const uint8_t* data);

  jack_ringbuffer_t* FRing = nullptr;
  bool FDropping = false;        // writer only
  std::vector<uint8_t> FScratch; // reader only
};

template <typename TOnEvent, typename TOnLoss>
bool TJackInRing::Drain(TOnEvent onEvent, TOnLoss onLoss) {
  bool any = false;
  char header[HeaderBytes];
  // A record counts once all of it is there; the writer puts it in in parts.
  while (jack_ringbuffer_peek(FRing, header, HeaderBytes) == HeaderBytes) {
    uint64_t time = 0;
    uint32_t size = 0;
    __builtin_memcpy(&time, header, sizeof time);
    __builtin_memcpy(&size, header + sizeof time, sizeof size);
    const size_t body = size == LossMark ? 0 : size;
    if (jack_ringbuffer_read_space(FRing) < HeaderBytes + body)
      break;
    jack_ringbuffer_read_advance(FRing, HeaderBytes);
    any = true;
    if (size == LossMark) {
      onLoss(time);
      continue;
    }
    FScratch.resize(size);
    jack_ringbuffer_read(FRing, reinterpret_cast<char*>(FScratch.data()), size);
    onEvent(time, FScratch.data(), FScratch.size());
  }
  return any;
}

} // namespace pelrow
