// The JACK client under the JACK backend: opening it (never starting a server),
// the process callback and the slots through which it trades MIDI events with the
// rest of the program. A server that stops running its cycles (frozen) must not
// hang the program: every call that waits on the server is bounded, and a client
// whose server did not answer is never closed (that would wait forever) but kept
// aside until its server answers again or goes away. The process callback
// allocates nothing, takes no lock and prints nothing: ports are published to it
// through atomics and data moves through jack_ringbuffers. A service thread drains
// the input rings into the ports' input streams.
//
// libjack keeps per-process state for the server its clients reach; a client
// opened while one of a vanished server is still open crashes in libjack. So the
// client of a server that has gone is closed at once, also while ports of ours
// still refer to it (they then do nothing), and nothing calls libjack through it
// afterwards: every use of the handle outside JACK's own threads is made under the
// handle lock and only while the handle is open.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include "midi/service/jack/jack_input_hold.h"
#include "midi/service/jack/jack_input_ring.h"

#include <semaphore.h>
#include <shared_mutex>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pelrow {

class TMidiInputStream;

// What every port slot has. A port whose unregistering could not finish (the
// server did not answer) stays in Closing: nothing is written to it, and it is
// unregistered, and the slot freed, once the server answers again.
struct TJackPortSlot {
  std::atomic<jack_port_t*> Port{nullptr};
  std::atomic<jack_port_t*> Closing{nullptr};
  bool UnregisterSent = false; // guarded by the client's slot lock
  bool Used = false;           // guarded by the client's slot lock
  // The other client's port it was connected to at opening, and how many ports had
  // gone away by then: a peer that goes and comes back under its name is connected
  // again.
  std::string Peer;                // guarded by the client's slot lock
  uint64_t PortsGoneAtConnect = 0; // guarded by the client's slot lock
};

// One input port as the process callback sees it.
struct TJackInSlot : TJackPortSlot {
  std::unique_ptr<TJackInRing> Ring;
  TJackInputHold Hold;                // the service thread's, under the client's slot lock
  TMidiInputStream* Stream = nullptr; // guarded by the client's slot lock
  bool Unplugged = false;             // guarded by the client's slot lock: reported
};

// One output port as the process callback sees it. Ring records are
// [uint32 size][uint32 tag][bytes], each one whole MIDI event; the tag holds the
// generation (bits 1-31) and whether the record ends a long buffer (bit 0). An
// empty record only carries such an end. Records of an older generation were
// cancelled by a reset and are skipped. The tags of written buffer ends go back
// through Done.
struct TJackOutSlot : TJackPortSlot {
  jack_ringbuffer_t* Ring = nullptr;
  jack_ringbuffer_t* Done = nullptr;
  std::atomic<uint32_t> Generation{0};
  std::atomic<uint32_t> MaxEventSize{0}; // of an empty port buffer, told each period
  // The port has no connection any more (removed from outside, or the destination
  // went away): what is written to it reaches nobody.
  std::atomic<bool> Disconnected{false};
};

// Result codes of the JACK backend (texts in the JACK service).
constexpr uint32_t JackErrServerGone = 1001;
constexpr uint32_t JackErrNotResponding = 1002;
constexpr uint32_t JackErrConnectRefused = 1003;
constexpr uint32_t JackErrPortRefused = 1004;
constexpr uint32_t JackErrClientDropped = 1005;

constexpr uint32_t JackEndsBuffer = 1;
inline uint32_t JackTag(uint32_t generation, bool endsBuffer) {
  return generation << 1 | (endsBuffer ? JackEndsBuffer : 0);
}

// A client is released through its disposer, which closes it with a bounded wait,
// or leaves it aside when its server does not answer.
class TJackClient;
struct TJackClientDisposer {
  void operator()(TJackClient* client) const;
};
using TJackClientPtr = std::shared_ptr<TJackClient>;

class TJackClient {
public:
  static constexpr size_t MaxPorts = 16;
  static constexpr size_t InRingBytes = size_t(1) << 20;
  static constexpr size_t OutRingBytes = size_t(256) << 10;
  static constexpr size_t DoneRingBytes = size_t(16) << 10;

  // How long a call that waits on the server may take.
  static constexpr auto ServerCallLimit = std::chrono::milliseconds(1000);
  // How long the server may run none of our cycles before it counts as not
  // responding. A server without realtime rights on a busy machine can miss a
  // second; a send must not fail for that.
  static constexpr auto NoCyclesLimit = std::chrono::milliseconds(3000);

  // Opens and activates a client; null with a reason when no server answers.
  // portsChanged runs on a JACK thread or the client's service thread whenever
  // ports come, go or are renamed, or the server goes away, stops answering or
  // answers again; never after Orphan.
  static TJackClientPtr Open(const std::string& name, std::function<void()> portsChanged,
                             std::string& failure);
  TJackClient(const TJackClient&) = delete;
  TJackClient& operator=(const TJackClient&) = delete;

  // No libjack client of this process is open (or still closing): only then may
  // a client of a server that was started again be opened.
  static bool NoneOpen();
  // Closes the clients left aside whose server has since gone away or answers
  // again; frees them once nothing can reach them any more.
  static void ReapAbandoned();

  // The owner of portsChanged goes away: no callback reaches it from now on.
  void Orphan();
  // Once the server has gone: stops the service thread (after it handed on what
  // had arrived and told the inputs) and closes the handle. True once closed.
  bool CloseAfterServerGone();

  // The server has not shut us down, nor dropped us.
  bool Alive() const { return FAlive.load(); }
  // Alive, and the server runs its cycles and answered our last call in time.
  bool Usable() const { return FAlive.load() && FResponding.load(); }
  // Why the client is not usable, as a service result code (MidiOk when it is).
  uint32_t Failure() const;
  // Xruns the server has reported to us since the client opened.
  uint32_t Xruns() const { return FXruns.load(std::memory_order_relaxed); }
  // How long the server has run our cycles since the client opened, in ms of its
  // clock: it stands still while the server runs no cycles for us.
  uint64_t RunMs() const;

  // Calls use(handle) under the handle lock while the client is usable; false
  // otherwise.
  template <typename TUse> bool WithHandle(TUse use) const {
    std::shared_lock lock(FHandleLock);
    if (FClient == nullptr || !Usable())
      return false;
    use(FClient);
    return true;
  }
  std::string PortName(jack_port_t* port) const;
  // Connections of one of our ports; 0 when the client is not usable.
  int PortConnections(jack_port_t* port) const;

  // Registers a port of ours with a unique name; null when JACK refuses.
  jack_port_t* RegisterPort(bool input);
  // jack_connect, bounded; -1 when the server did not answer in time.
  int Connect(const std::string& source, const std::string& destination);
  // The result code for a connection to port that failed: gone, or refused.
  uint32_t ConnectFailure(const std::string& port) const;
  TJackInSlot* ClaimInSlot();
  TJackOutSlot* ClaimOutSlot();
  void PublishIn(TJackInSlot& slot, jack_port_t* port, TMidiInputStream* stream);
  void PublishOut(TJackOutSlot& slot, jack_port_t* port);
  // Remembers the other client's port a port of ours was connected to at opening.
  void SetPeer(TJackPortSlot& slot, const std::string& peer);
  // Takes the port away from the process callback, waits until a running cycle is
  // over, unregisters the port (which also disconnects it) and frees the slot;
  // when the server does not answer, the port is silenced and left for later.
  void ReleaseIn(TJackInSlot& slot);
  // Hands everything the port has received to its stream, also what is held back.
  void FlushIn(TJackInSlot& slot);
  void ReleaseOut(TJackOutSlot& slot);
  // A new connection carries data only from the graph's next cycle on; waiting for
  // two complete cycles makes sure that what is sent after opening arrives.
  void WaitUntilConnected();
  // True once the server has run a cycle for us, false after ServerCallLimit.
  bool WaitForCycles();
  // Either the process callback has seen a port taken away, or it was inside a
  // cycle then; in that case the next cycle count proves the cycle is over.
  void WaitForCycleEnd();

private:
  friend struct TJackClientDisposer;
  TJackClient() = default;
  ~TJackClient();
  // Runs call on a thread of its own and waits for it at most ServerCallLimit;
  // false (the server counts as not responding) when it took longer.
  bool CallServer(std::function<intptr_t()> call, intptr_t& result);
  // Deactivates and closes the handle, bounded; the handle is never used again.
  bool CloseHandle();
  bool CloseLocked();
  static void ReapAbandonedLocked();
  void StopService();
  void NotResponding(const char* what);
  void CheckServer();
  bool WatchForDrop(std::chrono::steady_clock::time_point now, bool ourCyclesMoved);
  bool ProcessThreadWaitsForServer() const;
  void ServerGone(uint32_t failure);
  // The server shut us down or dropped us: the client is gone for good.
  bool Gone() const { return FShutDown.load() || FDropped.load(); }
  void ReconnectReturnedPeers();
  void NoticeLostConnections();
  void ResumeConnectedOutputs();
  void FinishClosedPorts();
  void ReleasePort(TJackPortSlot& slot, bool output);
  void FreeSlot(TJackPortSlot& slot);
  void NotifyPortsChanged();
  int Process(jack_nframes_t frames);
  void ReadInput(TJackInSlot& slot, jack_nframes_t frames, jack_nframes_t cycleStart,
                 uint64_t interruptedAt, uint64_t interruptionUs);
  void WriteOutput(TJackOutSlot& slot, jack_nframes_t frames);
  // True while input is held back.
  bool DrainInput(bool all);
  void DrainSlot(TJackInSlot& slot, bool all);
  void ServiceLoop();

  mutable std::shared_mutex FHandleLock;
  jack_client_t* FClient = nullptr; // guarded by FHandleLock outside JACK's threads
  std::mutex FNotifyLock;
  std::function<void()> FPortsChanged; // guarded by FNotifyLock
  std::atomic<bool> FAlive{true};
  std::atomic<bool> FShutDown{false}; // raised by the shutdown callback alone, for good
  std::atomic<bool> FResponding{true};
  std::atomic<bool> FDropped{false}; // the server runs cycles, but no more ours
  std::atomic<bool> FConnectionLost{false};
  std::atomic<bool> FConnectionMade{false};
  static constexpr int RecheckLoops = 30; // service loops of at most 100 ms
  int FRecheckLoops = 0;                  // service thread only
  std::atomic<bool> FPortRegistered{false};
  std::atomic<uint64_t> FPortsGone{0};                 // other clients' ports unregistered so far
  std::atomic<int> FStuckCalls{0};                     // server calls that have not come back
  uint64_t FCyclesSeen = 0;                            // service thread, then the reaper
  std::chrono::steady_clock::time_point FLastProgress; // service thread only
  // Service thread only: since when (of our own running time) the server's clock
  // has moved while our cycles did not, from which frame, and the last check.
  std::chrono::steady_clock::time_point FDropWatchStart, FLastCheck;
  jack_nframes_t FDropWatchFrame = 0;
  std::atomic<pid_t> FProcessThread{0}; // libjack's thread that runs our cycles
  jack_nframes_t FSampleRate = 0;
  std::atomic<uint64_t> FFramesRun{0};
  std::atomic<bool> FInCycle{false};
  std::atomic<uint64_t> FCycles{0};
  std::atomic<uint32_t> FXruns{0};
  std::atomic<uint64_t> FLastXrunUs{0}; // when the last one was told (jack_get_time)
  uint32_t FXrunsSeen = 0; // service thread only
  // When the server last reordered its graph (jack_get_time), and how long after
  // that an xrun it reports is taken for that reordering.
  std::atomic<uint64_t> FGraphChangedUs{0};
  static constexpr uint64_t GraphReorderXrunUs = 100'000;
  // Process callback only: where the last cycle started and how long it was, and
  // the xruns it has marked.
  uint32_t FXrunsInCycle = 0;
  bool FHaveCycle = false;
  jack_nframes_t FLastCycleStart = 0;
  jack_nframes_t FLastFrames = 0;
  std::atomic<bool> FQuit{false};
  bool FSemaphoreReady = false;
  sem_t FInputArrived;
  std::mutex FSlotLock;
  std::array<TJackInSlot, MaxPorts> FIn;
  std::array<TJackOutSlot, MaxPorts> FOut;
  uint32_t FPortSerial = 0;
  std::mutex FServiceLock; // joining the service thread
  std::thread FService;
};

} // namespace pelrow
