// A queue of long output buffers written one after another by a thread of its own,
// each completed through the completion callback once written. Reset cuts the
// buffer being written short (the writer watches the abort flag) and completes
// every queued buffer, written or not, before it returns.
#pragma once

#include "midi/service/midi_service.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pelrow {

class TMidiOutputQueue {
public:
  // Writes one buffer; it may take as long as the wire needs, but should return
  // soon once abort is raised. Its result is not reported: the buffer completes
  // either way, as with the multimedia service.
  using TWriter = std::function<void(const TMidiBuffer& buffer, const std::atomic<bool>& abort)>;

  TMidiOutputQueue(TWriter writer, TMidiOutCallback completion);
  ~TMidiOutputQueue();
  TMidiOutputQueue(const TMidiOutputQueue&) = delete;
  TMidiOutputQueue& operator=(const TMidiOutputQueue&) = delete;

  TMidiResult Queue(TMidiBuffer& buffer);
  TMidiResult Reset();

private:
  void Run();
  void Complete(TMidiBuffer& buffer);

  const TWriter FWriter;
  const TMidiOutCallback FCompletion;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::condition_variable FDone;
  std::deque<TMidiBuffer*> FQueue; // guarded by FMutex
  uint64_t FResetSerial = 0;       // guarded by FMutex
  uint64_t FResetDone = 0;         // guarded by FMutex
  bool FQuit = false;              // guarded by FMutex
  std::atomic<bool> FAbort{false};
  std::thread FThread;
};

} // namespace pelrow
