// The input's receive ring.
#include "midi/circ_buffer.h"

#include "support/trace.h"

namespace pelrow {

namespace {
constexpr uint32_t LongEntryMessage = 0xF0;
} // namespace

TCircBuffer::TCircBuffer(int32_t capacity)
    : FEntries(static_cast<size_t>(capacity)), FCapacity(capacity) {}

TCircEntry* TCircBuffer::Peek() {
  return Count() > 0 ? &FEntries[static_cast<size_t>(FReadIndex)] : nullptr;
}

bool TCircBuffer::Drop() {
  TLockGuard guard(FLock);
  if (FFillCount.load(std::memory_order_relaxed) <= 0)
    return false;
  // A cached event nobody took is freed here, on the UI thread.
  FEntries[static_cast<size_t>(FReadIndex)].Event.reset();
  FFillCount.fetch_sub(1, std::memory_order_release);
  FReadIndex = FReadIndex + 1 == FCapacity ? 0 : FReadIndex + 1;
  return true;
}

void TCircBuffer::DropConsumed() {
  TLockGuard guard(FLock);
  while (Count() > 0 && FEntries[static_cast<size_t>(FReadIndex)].Message == 0)
    Drop();
}

void TCircBuffer::ForEach(const std::function<void(TCircEntry& entry)>& visitor) {
  TLockGuard guard(FLock);
  for (int32_t i = FReadIndex; i - FReadIndex < FFillCount.load(std::memory_order_acquire); ++i) {
    TCircEntry& entry = FEntries[static_cast<size_t>(i < FCapacity ? i : i - FCapacity)];
    FLock.Leave();
    visitor(entry);
    FLock.Enter();
  }
}

bool TCircBuffer::PutShort(uint32_t timestamp, uint32_t message) {
  if (Put(timestamp, message, nullptr))
    return true;
  Trace("Short Overflow");
  return false;
}

bool TCircBuffer::PutLong(uint32_t timestamp, TMidiBuffer* header) {
  if (Put(timestamp, LongEntryMessage, header))
    return true;
  Trace("SysEx Overflow");
  return false;
}

bool TCircBuffer::Put(uint32_t timestamp, uint32_t message, TMidiBuffer* header) {
  TLockGuard guard(FLock);
  if (FFillCount.load(std::memory_order_relaxed) >= FCapacity)
    return false;
  const int32_t write = FWriteIndex.load(std::memory_order_relaxed);
  TCircEntry& entry = FEntries[static_cast<size_t>(write)];
  entry.Timestamp = timestamp;
  entry.Message = message;
  entry.Header = header;
  FFillCount.fetch_add(1, std::memory_order_release);
  FWriteIndex.store(write + 1 == FCapacity ? 0 : write + 1, std::memory_order_release);
  return true;
}

} // namespace pelrow
