// Holding JACK input back until a late xrun mark can be put in its place.
#include "midi/service/jack/jack_input_hold.h"

#include <algorithm>

namespace pelrow {

TJackInputHold::TRecord& TJackInputHold::Push(uint64_t time, TKind kind, uint32_t value) {
  TRecord& record = FHeld.emplace_back();
  record.Time = time;
  record.Kind = kind;
  record.Value = value;
  if (!FSpare.empty()) {
    record.Bytes = std::move(FSpare.back());
    FSpare.pop_back();
  }
  record.Bytes.clear();
  return record;
}

void TJackInputHold::Event(uint64_t time, const uint8_t* data, size_t size) {
  Push(time, TKind::Event, 0).Bytes.assign(data, data + size);
}

void TJackInputHold::Loss(uint64_t time, uint32_t lost) {
  Push(time, TKind::Loss, lost);
}

void TJackInputHold::Interruption(uint64_t time, uint32_t spanUs) {
  // Behind every record of its time or earlier, and before any loss: a loss is
  // where the ring ran full, which the ring's order places exactly.
  auto place = FHeld.end();
  while (place != FHeld.begin() && std::prev(place)->Time > time &&
         std::prev(place)->Kind == TKind::Event)
    --place;
  TRecord record;
  record.Time = time;
  record.Kind = TKind::Interruption;
  record.Value = spanUs;
  FHeld.insert(place, std::move(record));
}

} // namespace pelrow
