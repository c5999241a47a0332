// The JACK input ring with loss marks.
#include "midi/service/jack/jack_input_ring.h"

namespace pelrow {

TJackInRing::TJackInRing(size_t bytes) : FRing(jack_ringbuffer_create(bytes)) {}

TJackInRing::~TJackInRing() {
  if (FRing != nullptr)
    jack_ringbuffer_free(FRing);
}

void TJackInRing::WriteRecord(uint64_t time, uint32_t size, const uint8_t* data) {
  jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(&time), sizeof time);
  jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(&size), sizeof size);
  if (data != nullptr)
    jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(data), size);
}

bool TJackInRing::Write(uint64_t time, const uint8_t* data, uint32_t size) {
  if (FDropping) {
    if (jack_ringbuffer_read_space(FRing) > 0)
      return false;
    FDropping = false; // the reader has caught up
  }
  // Room for a loss mark is always kept behind the last record.
  if (jack_ringbuffer_write_space(FRing) < 2 * HeaderBytes + size_t(size)) {
    WriteRecord(time, LossMark, nullptr);
    FDropping = true;
    return false;
  }
  WriteRecord(time, size, data);
  return true;
}

void TJackInRing::MarkLoss(uint64_t time) {
  if (FDropping)
    return;
  // Using up the kept room means the ring is full: stop as at any overflow.
  FDropping = jack_ringbuffer_write_space(FRing) < 2 * HeaderBytes;
  WriteRecord(time, LossMark, nullptr);
}

void TJackInRing::Clear() {
  jack_ringbuffer_reset(FRing);
  FDropping = false;
}

} // namespace pelrow
