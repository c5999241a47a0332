// The input's receive ring: what the MIDI service thread stores and the UI thread
// takes. Only the service thread appends and only the UI thread removes, so Count
// and Peek read without the lock; an entry is complete before it is counted.
#pragma once

#include "midi/midi_records.h"
#include "midi/service/midi_service.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pelrow {

struct TCircEntry {
  uint32_t Timestamp = 0;
  uint32_t Message = 0; // packed short message; F0 for a long buffer; 0 once consumed
  TMidiBuffer* Header = nullptr;
  std::unique_ptr<TMyMidiEvent> Event; // made from the entry on first use
};

class TCircBuffer {
public:
  // Raises std::bad_alloc when the entries cannot be allocated.
  explicit TCircBuffer(int32_t capacity);

  void Lock() { FLock.Enter(); }
  void Unlock() { FLock.Leave(); }
  int32_t Count() const { return FFillCount.load(std::memory_order_acquire); }
  int32_t Capacity() const { return FCapacity; }
  int32_t WriteIndex() const { return FWriteIndex.load(std::memory_order_acquire); }
  TCircEntry* Peek();
  // Removes the head entry and frees an event still cached in it.
  bool Drop();
  // Drops entries from the head while the head has been consumed (Message 0).
  void DropConsumed();
  // Visits every waiting entry, also those appended during the walk; the lock is
  // released while the visitor runs.
  void ForEach(const std::function<void(TCircEntry& entry)>& visitor);
  bool PutShort(uint32_t timestamp, uint32_t message);
  bool PutLong(uint32_t timestamp, TMidiBuffer* header);

private:
  bool Put(uint32_t timestamp, uint32_t message, TMidiBuffer* header);

  std::vector<TCircEntry> FEntries;
  const int32_t FCapacity;
  std::atomic<int32_t> FWriteIndex{0};
  int32_t FReadIndex = 0;
  std::atomic<int32_t> FFillCount{0};
  TLock FLock;
};

} // namespace pelrow
