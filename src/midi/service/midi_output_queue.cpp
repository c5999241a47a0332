// Long output buffers written and completed in order on a thread of their own.
#include "midi/service/midi_output_queue.h"

namespace pelrow {

TMidiOutputQueue::TMidiOutputQueue(TWriter writer, TMidiOutCallback completion)
    : FWriter(std::move(writer)), FCompletion(std::move(completion)) {
  FThread = std::thread([this] { Run(); });
}

TMidiOutputQueue::~TMidiOutputQueue() {
  Reset();
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FQuit = true;
  }
  FWake.notify_one();
  FThread.join();
}

TMidiResult TMidiOutputQueue::Queue(TMidiBuffer& buffer) {
  if (buffer.Data == nullptr || buffer.BufferLength == 0)
    return MidiErrInvalidParam;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQuit)
      return MidiErrInvalidHandle;
    buffer.Flags = (buffer.Flags & ~MidiBufferDone) | MidiBufferInQueue;
    FQueue.push_back(&buffer);
  }
  FWake.notify_one();
  return MidiOk;
}

TMidiResult TMidiOutputQueue::Reset() {
  std::unique_lock<std::mutex> lock(FMutex);
  const uint64_t serial = ++FResetSerial;
  FAbort = true;
  FWake.notify_one();
  FDone.wait(lock, [&] { return FResetDone >= serial; });
  return MidiOk;
}

void TMidiOutputQueue::Run() {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    if (FResetDone < FResetSerial) {
      // Completions always come from this thread, also for unsent buffers.
      const uint64_t serial = FResetSerial;
      std::deque<TMidiBuffer*> dropped;
      dropped.swap(FQueue);
      lock.unlock();
      for (TMidiBuffer* buffer : dropped)
        Complete(*buffer);
      lock.lock();
      FAbort = false;
      FResetDone = serial;
      FDone.notify_all();
      continue;
    }
    if (FQuit)
      return;
    if (FQueue.empty()) {
      FWake.wait(lock);
      continue;
    }
    TMidiBuffer* buffer = FQueue.front();
    FQueue.pop_front();
    lock.unlock();
    if (!FAbort)
      FWriter(*buffer, FAbort);
    Complete(*buffer);
    lock.lock();
  }
}

void TMidiOutputQueue::Complete(TMidiBuffer& buffer) {
  buffer.Flags = (buffer.Flags & ~MidiBufferInQueue) | MidiBufferDone;
  if (FCompletion)
    FCompletion(buffer);
}

} // namespace pelrow
