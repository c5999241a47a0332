// Input from the JACK ring waits here a moment before it goes to the input stream.
// The server tells of an xrun on another thread, and the process callback marks it
// only in its next cycle: events of the cycles between the xrun and its mark would
// come before the mark, and a message that lost its middle in the xrun would be
// joined to the rest that followed. Held back, they are put behind the mark, which
// carries the time the xrun happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace pelrow {

class TJackInputHold {
public:
  // How long a record waits, in JACK microseconds.
  static constexpr uint64_t HoldUs = 60'000;

  enum class TKind : uint8_t { Event, Loss, Interruption };
  struct TRecord {
    uint64_t Time = 0; // jack_get_time's clock
    TKind Kind = TKind::Event;
    uint32_t Value = 0; // Loss: bytes lost; Interruption: how long it lasted, in us
    std::vector<uint8_t> Bytes;
  };

  void Event(uint64_t time, const uint8_t* data, size_t size);
  void Loss(uint64_t time, uint32_t lost);
  // Goes before the held events that came after time: those may be the rest of a
  // message that the interruption cut.
  void Interruption(uint64_t time, uint32_t spanUs);

  // Hands on, in order, every record that has waited long enough by now (all of
  // them with UINT64_MAX).
  template <typename TTake> void Release(uint64_t now, TTake take) {
    while (!FHeld.empty() && (now == UINT64_MAX || FHeld.front().Time + HoldUs <= now)) {
      take(FHeld.front());
      FSpare.push_back(std::move(FHeld.front().Bytes));
      FHeld.pop_front();
    }
  }
  bool Empty() const { return FHeld.empty(); }
  void Clear() { FHeld.clear(); }

private:
  TRecord& Push(uint64_t time, TKind kind, uint32_t value);

  std::deque<TRecord> FHeld;
  std::vector<std::vector<uint8_t>> FSpare; // storage of records handed on, for reuse
};

} // namespace pelrow
