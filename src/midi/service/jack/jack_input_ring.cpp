// The JACK input ring with loss and interruption marks.
#include "midi/service/jack/jack_input_ring.h"

#include <algorithm>

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

void TJackInRing::WriteMark(uint64_t time, uint32_t kind, uint32_t value) {
  WriteRecord(time, kind, nullptr);
  jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(&value), sizeof value);
}

void TJackInRing::FlushMarks() {
  if (FDropping) {
    if (jack_ringbuffer_read_space(FRing) > 0)
      return; // the reader has not caught up
    FDropping = false;
    // An interruption before the loss is part of it.
    FInterruptWaiting = false;
    WriteMark(FDropTime, LossMark,
              uint32_t(std::min<uint64_t>(FDroppedBytes, LossMark - 1)));
  }
  if (FInterruptWaiting && jack_ringbuffer_write_space(FRing) >= MarkBytes) {
    FInterruptWaiting = false;
    WriteMark(FInterruptTime, InterruptMark, FInterruptSpanUs);
  }
}

bool TJackInRing::Write(uint64_t time, const uint8_t* data, uint32_t size) {
  FlushMarks();
  if (FDropping) {
    FDroppedBytes += size;
    return false;
  }
  // Room for an interruption mark is always kept behind the last record.
  if (FInterruptWaiting || jack_ringbuffer_write_space(FRing) < HeaderBytes + size + MarkBytes) {
    FDropping = true;
    FDropTime = time;
    FDroppedBytes = size;
    return false;
  }
  WriteRecord(time, size, data);
  return true;
}

void TJackInRing::MarkInterrupted(uint64_t time, uint64_t spanUs) {
  if (FDropping || FInterruptWaiting)
    return; // the loss to come, or the mark waiting, covers it
  const auto span = uint32_t(std::min<uint64_t>(spanUs, UINT32_MAX));
  if (jack_ringbuffer_write_space(FRing) >= MarkBytes) {
    WriteMark(time, InterruptMark, span);
    return;
  }
  FInterruptWaiting = true;
  FInterruptTime = time;
  FInterruptSpanUs = span;
}

void TJackInRing::Clear() {
  jack_ringbuffer_reset(FRing);
  FDropping = false;
  FDroppedBytes = 0;
  FInterruptWaiting = false;
}

} // namespace pelrow
