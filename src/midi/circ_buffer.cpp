// The input's receive ring.
#include "midi/circ_buffer.h"

#include "support/trace.h"

#include <utility>

namespace pelrow {

namespace {
constexpr uint32_t LongEntryMessage = 0xF0;
constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEnd = 0xF7;
constexpr uint8_t FirstRealTime = 0xF8;

bool EndsSysEx(const TMidiBuffer& header) {
  return header.BytesRecorded > 0 && header.Data[header.BytesRecorded - 1] == SysExEnd;
}
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
  StorePendingGap();
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
  if (Put(timestamp, message, nullptr, false))
    return true;
  Trace("Short Overflow");
  return false;
}

bool TCircBuffer::PutLong(uint32_t timestamp, TMidiBuffer* header, bool damaged) {
  if (Put(timestamp, LongEntryMessage, header, damaged))
    return true;
  Trace("SysEx Overflow");
  return false;
}

void TCircBuffer::PutGap(uint32_t timestamp, TInputGap gap, uint64_t lostBytes, bool cut) {
  TLockGuard guard(FLock);
  AddToGap(timestamp, gap, lostBytes, !CertainLoss(gap) || lostBytes > 0, cut);
  StorePendingGap();
}

bool TCircBuffer::TakeLossNotice() {
  TLockGuard guard(FLock);
  return std::exchange(FLossNotice, false);
}

bool TCircBuffer::Put(uint32_t timestamp, uint32_t message, TMidiBuffer* header, bool damaged) {
  TLockGuard guard(FLock);
  if (header != nullptr && FCutSysEx && header->BytesRecorded > 0 &&
      header->Data[0] != SysExStart) {
    // The rest of a message that lost a piece: kept, it would splice the message.
    AddToGap(timestamp, TInputGap::Lost, header->BytesRecorded, true);
    FCutSysEx = !EndsSysEx(*header) && !damaged;
    return false;
  }
  const uint8_t status = PackedStatus(message);
  if (header == nullptr && FCutSysEx && (status < 0x80 || status == SysExEnd)) {
    // Stray bytes of the cut message; its F7 would close it as if it were whole.
    AddToGap(timestamp, TInputGap::Lost, 1, true);
    FCutSysEx = status != SysExEnd;
    return false;
  }
  // Any message but a real-time byte comes after the end of a SysEx.
  if (header != nullptr || status < FirstRealTime)
    FCutSysEx = false;
  if (StorePendingGap() && Store(timestamp, message, header, damaged))
    return true;
  if (header != nullptr) {
    AddToGap(timestamp, TInputGap::Lost, header->BytesRecorded, true);
    FCutSysEx = !EndsSysEx(*header) && !damaged;
  } else {
    AddToGap(timestamp, TInputGap::Lost, uint64_t(StatusLength(PackedStatus(message))), true);
  }
  return false;
}

// Under the lock.
bool TCircBuffer::Store(uint32_t timestamp, uint32_t message, TMidiBuffer* header, bool damaged) {
  if (FFillCount.load(std::memory_order_relaxed) >= FCapacity)
    return false;
  const int32_t write = FWriteIndex.load(std::memory_order_relaxed);
  TCircEntry& entry = FEntries[static_cast<size_t>(write)];
  entry.Timestamp = timestamp;
  entry.Message = message;
  entry.Header = header;
  entry.Damaged = damaged;
  entry.Gap = TInputGap::None;
  entry.LostBytes = 0;
  FFillCount.fetch_add(1, std::memory_order_release);
  FWriteIndex.store(write + 1 == FCapacity ? 0 : write + 1, std::memory_order_release);
  return true;
}

// Under the lock: a certain loss outweighs a possible one, a loss of more than
// one cause is told as a loss of none, and a loss that could not be counted makes
// the whole gap's count unknown.
void TCircBuffer::AddToGap(uint32_t timestamp, TInputGap gap, uint64_t lostBytes, bool counted,
                           bool cut) {
  FLossNotice = FLossNotice || CertainLoss(gap);
  if (FPendingGap == TInputGap::None) {
    FPendingTime = timestamp;
    FPendingLost = 0;
    FPendingCounted = true;
    FPendingCut = false;
  }
  FPendingCut = FPendingCut || cut;
  if (FPendingGap == TInputGap::None || (!CertainLoss(FPendingGap) && CertainLoss(gap)))
    FPendingGap = gap;
  else if (CertainLoss(gap) && gap != FPendingGap)
    FPendingGap = TInputGap::Lost;
  FPendingLost += lostBytes;
  FPendingCounted = FPendingCounted && counted;
}

// Under the lock: true when no gap waits any more.
bool TCircBuffer::StorePendingGap() {
  if (FPendingGap == TInputGap::None)
    return true;
  const int32_t before = FWriteIndex.load(std::memory_order_relaxed);
  if (!Store(FPendingTime, GapEntryMessage, nullptr, false))
    return false;
  TCircEntry& entry = FEntries[static_cast<size_t>(before)];
  entry.Gap = FPendingGap;
  entry.LostBytes = FPendingCounted ? FPendingLost : 0;
  entry.Damaged = FPendingCut;
  FPendingGap = TInputGap::None;
  return true;
}

} // namespace pelrow
