// The JACK client under the JACK backend: opening it (never starting a server),
// the process callback and the slots through which it trades MIDI events with the
// rest of the program. A server that stops running its cycles (frozen) must not
// hang the program: every call that waits on the server is bounded, and a client
// whose server did not answer is never closed (that would wait forever) but kept
// aside for the rest of the run. The process callback allocates nothing, takes no lock and
// prints nothing: ports are published to it through atomics and data moves through
// jack_ringbuffers. A service thread drains the input rings into the ports' input streams.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include "midi/service/jack/jack_input_ring.h"

#include <semaphore.h>

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

// One input port as the process callback sees it.
struct TJackInSlot {
  std::atomic<jack_port_t*> Port{nullptr};
  std::unique_ptr<TJackInRing> Ring;
  TMidiInputStream* Stream = nullptr; // guarded by the client's slot lock
  bool Used = false;                  // guarded by the client's slot lock
  // The port it was connected to at opening, and how many ports had gone away by
  // then: a source that goes and comes back under its name is connected again.
  std::string Source;              // guarded by the client's slot lock
  uint64_t PortsGoneAtConnect = 0; // guarded by the client's slot lock
};

// One output port as the process callback sees it. Ring records are
// [uint32 size][uint32 tag][bytes], each one whole MIDI event; the tag holds the
// generation (bits 1-31) and whether the record ends a long buffer (bit 0). An
// empty record only carries such an end. Records of an older generation were
// cancelled by a reset and are skipped. The tags of written buffer ends go back
// through Done.
struct TJackOutSlot {
  std::atomic<jack_port_t*> Port{nullptr};
  jack_ringbuffer_t* Ring = nullptr;
  jack_ringbuffer_t* Done = nullptr;
  std::atomic<uint32_t> Generation{0};
  std::atomic<uint32_t> MaxEventSize{0}; // of an empty port buffer, told each period
  bool Used = false;                     // guarded by the client's slot lock
};

// Result codes of the JACK backend (texts in the JACK service).
constexpr uint32_t JackErrServerGone = 1001;
constexpr uint32_t JackErrNotResponding = 1002;
constexpr uint32_t JackErrConnectRefused = 1003;
constexpr uint32_t JackErrPortRefused = 1004;

constexpr uint32_t JackEndsBuffer = 1;
inline uint32_t JackTag(uint32_t generation, bool endsBuffer) {
  return generation << 1 | (endsBuffer ? JackEndsBuffer : 0);
}

// A client is released through its disposer, which closes it with a bounded wait.
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

  // Opens and activates a client; null with a reason when no server answers.
  // portsChanged runs on a JACK thread or the client's service thread whenever
  // ports come, go or are renamed, or the server goes away, stops answering or
  // answers again.
  static TJackClientPtr Open(const std::string& name, std::function<void()> portsChanged,
                             std::string& failure);
  TJackClient(const TJackClient&) = delete;
  TJackClient& operator=(const TJackClient&) = delete;

  jack_client_t* Handle() const { return FClient; }
  // The server has not shut us down.
  bool Alive() const { return FAlive.load(); }
  // Alive, and the server runs its cycles and answered our last call in time.
  bool Usable() const { return FAlive.load() && FResponding.load(); }
  // Why the client is not usable, as a service result code (MidiOk when it is).
  uint32_t Failure() const;
  std::string OwnName() const;
  // Xruns the server has reported to us since the client opened.
  uint32_t Xruns() const { return FXruns.load(std::memory_order_relaxed); }

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
  // Remembers the source an input was connected to when it opened.
  void SetInSource(TJackInSlot& slot, const std::string& source);
  // Takes the port away from the process callback, waits until a running cycle is
  // over, unregisters the port (which also disconnects it) and frees the slot.
  void ReleaseIn(TJackInSlot& slot);
  void ReleaseOut(TJackOutSlot& slot);
  // A new connection carries data only from the graph's next cycle on; waiting for
  // two complete cycles makes sure that what is sent after opening arrives.
  void WaitUntilConnected();
  // True once the server has run a cycle for us, false after ServerCallLimit.
  bool WaitForCycles();

private:
  friend struct TJackClientDisposer;
  TJackClient() = default;
  ~TJackClient();
  // Runs call on a thread of its own and waits for it at most ServerCallLimit;
  // false (the server counts as not responding) when it took longer.
  bool CallServer(std::function<intptr_t()> call, intptr_t& result);
  void NotResponding(const char* what);
  void CheckServer();
  void ReconnectReturnedSources();
  void NotifyPortsChanged();
  int Process(jack_nframes_t frames);
  void ReadInput(TJackInSlot& slot, jack_nframes_t frames, jack_nframes_t cycleStart,
                 bool interrupted);
  void WriteOutput(TJackOutSlot& slot, jack_nframes_t frames);
  void WaitForCycleEnd();
  void Unregister(std::atomic<jack_port_t*>& port);
  void ServiceLoop();

  jack_client_t* FClient = nullptr;
  std::function<void()> FPortsChanged;
  std::atomic<bool> FAlive{true};
  std::atomic<bool> FShutDown{false}; // raised by the shutdown callback alone
  std::atomic<bool> FResponding{true};
  std::atomic<bool> FConnectionLost{false};
  std::atomic<bool> FPortRegistered{false};
  std::atomic<uint64_t> FPortsGone{0};                 // other clients' ports unregistered so far
  std::atomic<int> FStuckCalls{0};                     // server calls that have not come back
  uint64_t FCyclesSeen = 0;                            // service thread only
  std::chrono::steady_clock::time_point FLastProgress; // service thread only
  std::atomic<bool> FInCycle{false};
  std::atomic<uint64_t> FCycles{0};
  std::atomic<uint32_t> FXruns{0};
  uint32_t FXrunsSeen = 0; // service thread only
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
  std::thread FService;
};

} // namespace pelrow
