// Ordered output pieces and completions on the writer thread.
#include "midi/service/ordered_output.h"

#include "midi/service/midi_message_length.h"

#include <algorithm>

namespace pelrow {

TOrderedOutput::TOrderedOutput(TMidiOutCallback completion) : FCompletion(std::move(completion)) {}

TMidiResult TOrderedOutput::PushShort(uint32_t packed) {
  TItem item;
  item.Short = {uint8_t(packed), uint8_t(packed >> 8), uint8_t(packed >> 16)};
  item.Count = static_cast<uint32_t>(ShortMessageLength(item.Short[0]));
  if (item.Count == 0 || item.Short[0] == 0xF0 || item.Short[0] == 0xF7)
    return MidiErrInvalidParam;
  {
    std::lock_guard lock(FMutex);
    FQueue.push_back(item);
  }
  FWake.notify_one();
  return MidiOk;
}

TMidiResult TOrderedOutput::PushLong(TMidiBuffer& buffer) {
  if (buffer.Data == nullptr || buffer.BufferLength == 0)
    return MidiErrInvalidParam;
  {
    std::lock_guard lock(FMutex);
    if (buffer.Flags & MidiBufferInQueue)
      return MidiErrInvalidParam;
    buffer.Flags = (buffer.Flags & ~(MidiBufferDone | MidiBufferFailed)) | MidiBufferInQueue;
    buffer.BytesRecorded = 0;
    TItem item;
    item.Buffer = &buffer;
    item.Count = buffer.BufferLength;
    FQueue.push_back(item);
  }
  FWake.notify_one();
  return MidiOk;
}

TMidiResult TOrderedOutput::PushFlush() {
  TItem item;
  item.Flush = true;
  {
    std::lock_guard lock(FMutex);
    FQueue.push_back(item);
  }
  FWake.notify_one();
  return MidiOk;
}

void TOrderedOutput::Reset() {
  std::unique_lock lock(FMutex);
  if (FQuit) {
    CompleteAllLocked(lock);
    return;
  }
  FResetAsked = true;
  const uint64_t served = FResetsServed;
  FWake.notify_all();
  FResetDone.wait(lock, [&] { return FResetsServed != served || FQuit; });
}

bool TOrderedOutput::WaitUntilWritten(std::chrono::milliseconds limit) {
  std::unique_lock lock(FMutex);
  const auto idle = [&] { return FQueue.empty() && FWritten.empty(); };
  FWrittenAll.wait_for(lock, limit, [&] { return idle() || FQuit; });
  return idle();
}

uint64_t TOrderedOutput::FailedShortBytes() const {
  std::lock_guard lock(FMutex);
  return FFailedShortBytes;
}

void TOrderedOutput::Quit() {
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
  }
  FWake.notify_all();
  FResetDone.notify_all();
  FWrittenAll.notify_all();
}

void TOrderedOutput::CompleteRemaining(bool failed) {
  std::unique_lock lock(FMutex);
  CompleteAllLocked(lock, failed);
}

bool TOrderedOutput::Quitting() const {
  std::lock_guard lock(FMutex);
  return FQuit;
}

bool TOrderedOutput::Interrupted() const {
  std::lock_guard lock(FMutex);
  return FResetAsked || FQuit;
}

void TOrderedOutput::Wait(std::chrono::microseconds maxWait, bool wakeOnWork) {
  std::unique_lock lock(FMutex);
  FWake.wait_for(lock, maxWait,
                 [&] { return (wakeOnWork && !FQueue.empty()) || FResetAsked || FQuit; });
}

bool TOrderedOutput::NextPiece(uint32_t maxBytes, TPiece& piece) {
  std::lock_guard lock(FMutex);
  if (FQueue.empty() || FResetAsked)
    return false;
  const TItem& item = FQueue.front();
  if (item.Buffer == nullptr) {
    piece = {item.Short.data(), item.Count, false, false, item.Flush};
    return true;
  }
  const uint32_t count = std::min(maxBytes, item.Count - item.Offset);
  piece = {item.Buffer->Data + item.Offset, count, item.Offset + count == item.Count, true};
  return true;
}

void TOrderedOutput::PieceSent(const TPiece& piece, bool failed) {
  {
    std::lock_guard lock(FMutex);
    if (FQueue.empty())
      return;
    TItem& item = FQueue.front();
    item.Offset += piece.Count;
    if (!failed)
      item.Delivered += piece.Count;
    else if (item.Buffer == nullptr)
      FFailedShortBytes += piece.Count;
    if (item.Offset < item.Count)
      return;
    if (item.Buffer != nullptr)
      FWritten.push_back(item.Buffer);
    FQueue.pop_front();
  }
  FWrittenAll.notify_all();
}

void TOrderedOutput::Complete(TMidiBuffer* buffer, bool failed) {
  buffer->Flags = (buffer->Flags & ~MidiBufferInQueue) | MidiBufferDone;
  if (failed)
    buffer->Flags |= MidiBufferFailed;
  FCompletion(*buffer);
}

void TOrderedOutput::CompleteOldest(bool failed) {
  TMidiBuffer* buffer = nullptr;
  {
    std::lock_guard lock(FMutex);
    if (FWritten.empty())
      return;
    buffer = FWritten.front();
    FWritten.pop_front();
  }
  Complete(buffer, failed);
  FWrittenAll.notify_all();
}

size_t TOrderedOutput::WrittenCount() const {
  std::lock_guard lock(FMutex);
  return FWritten.size();
}

// Completions run without the lock, so a completion handler may send again. What
// is still queued was not (wholly) written: it fails.
void TOrderedOutput::CompleteAllLocked(std::unique_lock<std::mutex>& lock, bool failed) {
  std::deque<TMidiBuffer*> written;
  written.swap(FWritten);
  std::deque<TMidiBuffer*> cut;
  for (const TItem& item : FQueue) {
    if (item.Buffer != nullptr) {
      item.Buffer->BytesRecorded = item.Delivered;
      cut.push_back(item.Buffer);
    } else {
      FFailedShortBytes += item.Count - item.Delivered;
    }
  }
  FQueue.clear();
  lock.unlock();
  for (TMidiBuffer* buffer : written)
    Complete(buffer, failed);
  for (TMidiBuffer* buffer : cut)
    Complete(buffer, true);
  FWrittenAll.notify_all();
  lock.lock();
}

bool TOrderedOutput::ServeReset() {
  std::unique_lock lock(FMutex);
  if (!FResetAsked)
    return false;
  CompleteAllLocked(lock);
  FResetAsked = false;
  ++FResetsServed;
  FResetDone.notify_all();
  return true;
}

} // namespace pelrow
