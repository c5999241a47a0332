// The input's receive ring: what the MIDI service thread stores and the UI thread
// takes. Only the UI thread removes, so Count and Peek read without the lock; an
// entry is complete before it is counted. What the ring cannot keep becomes a gap
// entry at its place, stored as soon as there is room: nothing stored later gets
// ahead of it, and the pieces that would finish a SysEx cut by the loss are
// counted into it instead of being kept, so no message is spliced.
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
  // Packed short message; F0 for a long buffer; GapEntryMessage; 0 once consumed.
  uint32_t Message = 0;
  TMidiBuffer* Header = nullptr;
  bool Damaged = false; // a long buffer that ends a cut SysEx; a gap that cut one
  TInputGap Gap = TInputGap::None;
  uint64_t LostBytes = 0;              // with a certain loss; 0 when unknown
  std::unique_ptr<TMyMidiEvent> Event; // made from the entry on first use
};

// No packed short message has bits above 23.
constexpr uint32_t GapEntryMessage = 0xFF000000;

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
  // False when the entry was not kept; it is then counted into a gap.
  bool PutShort(uint32_t timestamp, uint32_t message);
  bool PutLong(uint32_t timestamp, TMidiBuffer* header, bool damaged = false);
  // Input went missing before it reached the ring (lostBytes 0: unknown). cut: the
  // gap ended a System Exclusive message whose pieces are all stored already.
  void PutGap(uint32_t timestamp, TInputGap gap, uint64_t lostBytes, bool cut = false);
  // Input was lost (not only may have been) since the last call.
  bool TakeLossNotice();

private:
  bool Put(uint32_t timestamp, uint32_t message, TMidiBuffer* header, bool damaged);
  bool Store(uint32_t timestamp, uint32_t message, TMidiBuffer* header, bool damaged);
  void AddToGap(uint32_t timestamp, TInputGap gap, uint64_t lostBytes, bool counted,
                bool cut = false);
  bool StorePendingGap();

  std::vector<TCircEntry> FEntries;
  const int32_t FCapacity;
  std::atomic<int32_t> FWriteIndex{0};
  int32_t FReadIndex = 0;
  std::atomic<int32_t> FFillCount{0};
  TLock FLock;
  // Guarded by FLock: the gap waiting for room, and whether the rest of a SysEx is
  // being counted into it.
  TInputGap FPendingGap = TInputGap::None;
  uint64_t FPendingLost = 0;
  bool FPendingCounted = true;
  bool FPendingCut = false;
  uint32_t FPendingTime = 0;
  bool FCutSysEx = false;
  bool FLossNotice = false;
};

} // namespace pelrow
