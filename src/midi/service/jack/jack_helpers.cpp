// The JACK client, its process callback and the input service thread.
#include "midi/service/jack/jack_helpers.h"

#include "midi/service/midi_service.h"

#include "midi/service/midi_input_stream.h"
#include "support/clock.h"
#include "support/trace.h"

#include <jack/midiport.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace pelrow {

namespace {
constexpr size_t OutHeaderBytes = 2 * sizeof(uint32_t);
// How long a closing port waits for the process callback to leave a cycle; a
// server that stopped calling us must not hang the program.
constexpr auto CycleWaitLimit = std::chrono::milliseconds(500);

constexpr const char* TextNoServer = "no JACK server is running";
constexpr const char* TextRefused = "the JACK server refused the client";
constexpr const char* TextNotActivated = "the JACK client could not be activated";
constexpr const char* TextStillClosing =
    "the client of a JACK server that stopped is still being closed";

void TraceJack(const char* text) {
  Trace(std::string("JACK: ") + text);
}

// libjack clients of this process that are open or still closing.
std::atomic<int> OpenHandles{0};

// Opening and closing clients, one at a time. Once a server has shut a client
// down, libjack closes and frees every client of it by itself the next time any
// client is opened in the process, so a handle of ours would dangle: clients of a
// server that has gone are closed here before anything is opened.
std::mutex ClientsLock;
// Every client with its handle open, guarded by ClientsLock.
std::vector<TJackClient*>& Clients() {
  static std::vector<TJackClient*> clients;
  return clients;
}
// Clients whose server did not answer when their owner let go: closing them would
// wait for good, and JACK threads may still call into them, so they stay here
// until their server answers again or goes away. Guarded by ClientsLock.
std::vector<TJackClient*>& Abandoned() {
  static std::vector<TJackClient*> clients;
  return clients;
}
} // namespace

void TJackClient::NotifyPortsChanged() {
  std::lock_guard lock(FNotifyLock);
  if (FPortsChanged)
    FPortsChanged();
}

void TJackClient::Orphan() {
  std::lock_guard lock(FNotifyLock);
  FPortsChanged = nullptr;
}

bool TJackClient::NoneOpen() {
  return OpenHandles.load() == 0;
}

TJackClientPtr TJackClient::Open(const std::string& name, std::function<void()> portsChanged,
                                 std::string& failure) {
  jack_set_error_function(TraceJack);
  jack_set_info_function(TraceJack);
  TJackClientPtr client(new TJackClient(), TJackClientDisposer());
  client->FPortsChanged = std::move(portsChanged);
  {
    std::lock_guard lock(ClientsLock);
    ReapAbandonedLocked();
    const std::vector<TJackClient*> others = Clients(); // closing takes them out
    for (TJackClient* other : others)
      if (other->Gone() && !other->CloseLocked()) {
        failure = TextStillClosing;
        return nullptr;
      }
    jack_status_t status{};
    client->FClient = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client->FClient == nullptr) {
      failure = (status & JackServerFailed) ? TextNoServer : TextRefused;
      return nullptr;
    }
    OpenHandles.fetch_add(1);
    Clients().push_back(client.get());
  }
  sem_init(&client->FInputArrived, 0, 0);
  client->FSemaphoreReady = true;
  TJackClient* self = client.get();
  jack_set_process_callback(
      self->FClient,
      [](jack_nframes_t n, void* arg) { return static_cast<TJackClient*>(arg)->Process(n); }, self);
  jack_set_port_registration_callback(
      self->FClient,
      [](jack_port_id_t id, int registered, void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        // Our own ports are never devices; opening one is no device change.
        jack_port_t* port = jack_port_by_id(me->FClient, id);
        if (port == nullptr || !jack_port_is_mine(me->FClient, port)) {
          if (registered) {
            // Connecting from this thread would deadlock: the service thread does it.
            me->FPortRegistered = true;
            sem_post(&me->FInputArrived);
          } else {
            me->FPortsGone.fetch_add(1);
          }
          me->NotifyPortsChanged();
        }
      },
      self);
  jack_set_xrun_callback(
      self->FClient,
      [](void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        // jackd reports an xrun as it reorders its graph for a port or connection
        // that comes or goes; the clients' cycles run on, and no input is at risk.
        if (jack_get_time() - me->FGraphChangedUs.load() < GraphReorderXrunUs)
          return 0;
        me->FLastXrunUs.store(jack_get_time(), std::memory_order_relaxed);
        me->FXruns.fetch_add(1, std::memory_order_relaxed);
        return 0;
      },
      self);
  jack_set_port_rename_callback(
      self->FClient,
      [](jack_port_id_t, const char*, const char*, void* arg) {
        static_cast<TJackClient*>(arg)->NotifyPortsChanged();
      },
      self);
  jack_set_graph_order_callback(
      self->FClient,
      [](void* arg) {
        static_cast<TJackClient*>(arg)->FGraphChangedUs.store(jack_get_time());
        return 0;
      },
      self);
  jack_set_port_connect_callback(
      self->FClient,
      [](jack_port_id_t, jack_port_id_t, int connected, void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        (connected ? me->FConnectionMade : me->FConnectionLost) = true;
        sem_post(&me->FInputArrived);
      },
      self);
  // JACK asks this callback to act like a signal handler: it raises a flag and
  // wakes the service thread, which does the rest.
  jack_on_info_shutdown(
      self->FClient,
      [](jack_status_t, const char*, void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        me->FShutDown.store(true);
        sem_post(&me->FInputArrived);
      },
      self);
  if (jack_activate(self->FClient) != 0) {
    failure = TextNotActivated;
    return nullptr;
  }
  self->FSampleRate = jack_get_sample_rate(self->FClient);
  self->FLastProgress = self->FLastCheck = self->FDropWatchStart = std::chrono::steady_clock::now();
  self->FDropWatchFrame = jack_last_frame_time(self->FClient);
  self->FService = std::thread([self] { self->ServiceLoop(); });
  return client;
}

void TJackClient::StopService() {
  std::lock_guard lock(FServiceLock);
  if (!FService.joinable())
    return;
  FQuit = true;
  sem_post(&FInputArrived);
  FService.join();
}

bool TJackClient::CloseHandle() {
  jack_client_t* handle = std::exchange(FClient, nullptr);
  if (handle == nullptr)
    return true;
  std::erase(Clients(), this);
  intptr_t result = 0;
  return CallServer(
      [handle] {
        jack_deactivate(handle);
        const int closed = jack_client_close(handle);
        OpenHandles.fetch_sub(1);
        return intptr_t(closed);
      },
      result);
}

bool TJackClient::CloseAfterServerGone() {
  if (!Gone())
    return false;
  std::lock_guard lock(ClientsLock);
  return CloseLocked();
}

// Under ClientsLock, for a client whose server shut it down.
bool TJackClient::CloseLocked() {
  StopService();
  std::unique_lock lock(FHandleLock);
  if (FClient == nullptr)
    return true;
  // A call still under way uses the handle; a dead server answers it soon.
  if (FStuckCalls.load() > 0)
    return false;
  return CloseHandle();
}

void TJackClientDisposer::operator()(TJackClient* client) const {
  client->Orphan();
  client->StopService();
  std::lock_guard clientsLock(ClientsLock);
  bool closed = false;
  {
    std::unique_lock lock(client->FHandleLock);
    // A frozen server would hang the close; a dead one answers at once.
    if (client->FClient == nullptr || client->FResponding.load() || client->Gone())
      closed = client->CloseHandle();
  }
  // A late answer to a stuck call still counts down in the client.
  if (closed && client->FStuckCalls.load() == 0) {
    delete client;
    return;
  }
  Trace("JACK: the server does not answer; the client is left open until it does");
  Abandoned().push_back(client);
}

void TJackClient::ReapAbandoned() {
  std::lock_guard lock(ClientsLock);
  ReapAbandonedLocked();
}

// A client left aside is closed once its server has shut it down or runs cycles
// again, and freed once no call of ours into libjack is left under way.
void TJackClient::ReapAbandonedLocked() {
  std::erase_if(Abandoned(), [&](TJackClient* client) {
    {
      std::unique_lock handleLock(client->FHandleLock);
      if (client->FStuckCalls.load() > 0)
        return false;
      if (client->FClient != nullptr) {
        const uint64_t cycles = client->FCycles.load();
        const bool answers = cycles != client->FCyclesSeen;
        client->FCyclesSeen = cycles;
        if (!client->Gone() && !answers)
          return false;
        if (!client->CloseHandle())
          return false;
      }
    }
    delete client;
    return true;
  });
}

bool TJackClient::CallServer(std::function<intptr_t()> call, intptr_t& result) {
  struct TCall {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    intptr_t Result = 0;
  };
  auto state = std::make_shared<TCall>();
  std::atomic<int>* stuck = &FStuckCalls;
  std::thread([state, call = std::move(call), stuck] {
    const intptr_t value = call();
    std::lock_guard lock(state->Lock);
    if (!state->Finished) {
      state->Finished = true;
      state->Result = value;
    } else {
      stuck->fetch_sub(1); // came back after all
    }
    state->Done.notify_all();
  }).detach();
  std::unique_lock lock(state->Lock);
  if (state->Done.wait_for(lock, ServerCallLimit, [&] { return state->Finished; })) {
    result = state->Result;
    return true;
  }
  // The late answer, if one comes, only lowers the count of stuck calls.
  state->Finished = true;
  FStuckCalls.fetch_add(1);
  lock.unlock();
  NotResponding("did not answer a call");
  return false;
}

void TJackClient::NotResponding(const char* what) {
  if (!FResponding.exchange(false)) {
    return;
  }
  Trace(std::string("JACK: the server is not responding (") + what + ")");
  NotifyPortsChanged();
}

uint32_t TJackClient::ConnectFailure(const std::string& port) const {
  uint32_t failure = Failure();
  WithHandle([&](jack_client_t* handle) {
    failure = jack_port_by_name(handle, port.c_str()) == nullptr ? MidiErrNoDevice
                                                                 : JackErrConnectRefused;
  });
  return failure;
}

uint32_t TJackClient::Failure() const {
  if (!FAlive.load())
    return FDropped.load() ? JackErrClientDropped : JackErrServerGone;
  if (!FResponding.load())
    return JackErrNotResponding;
  return 0;
}

std::string TJackClient::PortName(jack_port_t* port) const {
  std::string name;
  WithHandle([&](jack_client_t*) { name = jack_port_name(port); });
  return name;
}

int TJackClient::PortConnections(jack_port_t* port) const {
  int connections = 0;
  WithHandle([&](jack_client_t*) { connections = jack_port_connected(port); });
  return connections;
}

TJackClient::~TJackClient() {
  for (auto& slot : FOut) {
    if (slot.Ring)
      jack_ringbuffer_free(slot.Ring);
    if (slot.Done)
      jack_ringbuffer_free(slot.Done);
  }
  if (FSemaphoreReady)
    sem_destroy(&FInputArrived);
}

jack_port_t* TJackClient::RegisterPort(bool input) {
  std::string name;
  {
    std::lock_guard lock(FSlotLock);
    name = (input ? "in_" : "out_") + std::to_string(++FPortSerial);
  }
  intptr_t port = 0;
  const bool answered = WithHandle([&](jack_client_t* handle) {
    CallServer(
        [handle, name, input] {
          return reinterpret_cast<intptr_t>(
              jack_port_register(handle, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                 input ? JackPortIsInput : JackPortIsOutput, 0));
        },
        port);
  });
  // A registration that did not come back in time counts as refused.
  return answered && Usable() ? reinterpret_cast<jack_port_t*>(port) : nullptr;
}

int TJackClient::Connect(const std::string& source, const std::string& destination) {
  intptr_t result = -1;
  WithHandle([&](jack_client_t* handle) {
    if (!CallServer(
            [handle, source, destination] {
              return intptr_t(jack_connect(handle, source.c_str(), destination.c_str()));
            },
            result))
      result = -1;
  });
  return int(result);
}

TJackInSlot* TJackClient::ClaimInSlot() {
  std::lock_guard lock(FSlotLock);
  for (auto& slot : FIn)
    if (!slot.Used) {
      // Rings are made on first use and kept for the next port in the slot.
      if (slot.Ring == nullptr)
        slot.Ring = std::make_unique<TJackInRing>(InRingBytes);
      if (!slot.Ring->Valid())
        return nullptr;
      slot.Used = true;
      return &slot;
    }
  return nullptr;
}

TJackOutSlot* TJackClient::ClaimOutSlot() {
  std::lock_guard lock(FSlotLock);
  for (auto& slot : FOut)
    if (!slot.Used) {
      if (slot.Ring == nullptr)
        slot.Ring = jack_ringbuffer_create(OutRingBytes);
      if (slot.Done == nullptr)
        slot.Done = jack_ringbuffer_create(DoneRingBytes);
      if (slot.Ring == nullptr || slot.Done == nullptr)
        return nullptr;
      slot.Used = true;
      return &slot;
    }
  return nullptr;
}

void TJackClient::PublishIn(TJackInSlot& slot, jack_port_t* port, TMidiInputStream* stream) {
  std::lock_guard lock(FSlotLock);
  slot.Stream = stream;
  slot.Port.store(port);
}

void TJackClient::SetPeer(TJackPortSlot& slot, const std::string& peer) {
  std::lock_guard lock(FSlotLock);
  slot.Peer = peer;
  slot.PortsGoneAtConnect = FPortsGone.load();
}

void TJackClient::PublishOut(TJackOutSlot& slot, jack_port_t* port) {
  slot.Port.store(port);
}

void TJackClient::WaitForCycleEnd() {
  if (!FInCycle.load())
    return;
  const uint64_t cycle = FCycles.load();
  const auto limit = std::chrono::steady_clock::now() + CycleWaitLimit;
  while (FInCycle.load() && FCycles.load() == cycle && Usable() &&
         std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

bool TJackClient::WaitForCycles() {
  const auto limit = std::chrono::steady_clock::now() + ServerCallLimit;
  while (FCycles.load() == 0 && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return FCycles.load() > 0;
}

void TJackClient::WaitUntilConnected() {
  const uint64_t cycle = FCycles.load();
  const auto limit = std::chrono::steady_clock::now() + CycleWaitLimit;
  while (FCycles.load() < cycle + 2 && Usable() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void TJackClient::ReleasePort(TJackPortSlot& slot, bool output) {
  jack_port_t* port = slot.Port.exchange(nullptr);
  WaitForCycleEnd();
  bool done = port == nullptr;
  bool sent = false;
  if (!done) {
    std::shared_lock lock(FHandleLock);
    if (FClient == nullptr || !FAlive.load()) {
      done = true; // the server has gone, and our ports with it
    } else if (FResponding.load()) {
      intptr_t result = 0;
      jack_client_t* handle = FClient;
      sent = true;
      done = CallServer([handle, port] { return intptr_t(jack_port_unregister(handle, port)); },
                        result);
    }
  }
  std::lock_guard lock(FSlotLock); // the service thread drains under this lock
  if (output) {
    auto& out = static_cast<TJackOutSlot&>(slot);
    jack_ringbuffer_reset(out.Ring);
    jack_ringbuffer_reset(out.Done);
    out.Disconnected = false;
  } else {
    auto& in = static_cast<TJackInSlot&>(slot);
    in.Stream = nullptr;
    in.Unplugged = false;
    in.Ring->Clear();
    in.Hold.Clear();
  }
  if (done) {
    FreeSlot(slot);
    return;
  }
  // Left registered: silenced at once (an output's buffer would otherwise repeat
  // its last period for ever once the server runs again) and unregistered when the
  // server answers.
  slot.UnregisterSent = sent;
  slot.Closing.store(port);
  Trace("JACK: the server does not answer; a closed port is silenced until it does");
}

// Under the slot lock.
void TJackClient::FreeSlot(TJackPortSlot& slot) {
  slot.Closing.store(nullptr);
  slot.UnregisterSent = false;
  slot.Peer.clear();
  slot.PortsGoneAtConnect = 0;
  slot.Used = false;
}

void TJackClient::ReleaseIn(TJackInSlot& slot) {
  ReleasePort(slot, false);
}

void TJackClient::ReleaseOut(TJackOutSlot& slot) {
  ReleasePort(slot, true);
}

int TJackClient::Process(jack_nframes_t frames) {
  FInCycle.store(true);
  if (FProcessThread.load(std::memory_order_relaxed) == 0)
    FProcessThread.store(gettid(), std::memory_order_relaxed);
  const jack_nframes_t cycleStart = jack_last_frame_time(FClient);
  // An xrun, or cycles of ours that skip frames (the server went on without us),
  // may have cost input, but need not: a server that waits for its clients loses
  // nothing, and a skipped period may have carried no events. Only a warning.
  const uint32_t xruns = FXruns.load(std::memory_order_relaxed);
  const bool skipped = FHaveCycle && cycleStart - FLastCycleStart != FLastFrames;
  const bool xrun = xruns != FXrunsInCycle;
  const bool interrupted = skipped || xrun;
  // How long input went unread: from where the last cycle of ours ended.
  const uint64_t interruptionUs =
      skipped ? jack_frames_to_time(FClient, cycleStart) -
                    std::min(jack_frames_to_time(FClient, cycleStart),
                             jack_frames_to_time(FClient, FLastCycleStart + FLastFrames))
              : 0;
  // An xrun the server told of on another thread may have cost input of the cycles
  // since: its mark goes back to where it happened, a period or two before the notice.
  uint64_t interruptedAt = jack_frames_to_time(FClient, cycleStart);
  if (const uint64_t noticed = FLastXrunUs.load(std::memory_order_relaxed);
      xrun && !skipped && FSampleRate > 0 && noticed > 0) {
    const uint64_t periods = 2 * uint64_t(frames) * 1'000'000 / FSampleRate;
    interruptedAt =
        std::max<uint64_t>(1, std::min(interruptedAt, noticed - std::min(noticed, periods)));
  }
  FXrunsInCycle = xruns;
  FHaveCycle = true;
  FLastCycleStart = cycleStart;
  FLastFrames = frames;
  for (auto& slot : FIn)
    ReadInput(slot, frames, cycleStart, interrupted ? interruptedAt : 0, interruptionUs);
  for (auto& slot : FOut)
    WriteOutput(slot, frames);
  FFramesRun.fetch_add(frames, std::memory_order_relaxed);
  FCycles.fetch_add(1);
  FInCycle.store(false);
  return 0;
}

void TJackClient::ReadInput(TJackInSlot& slot, jack_nframes_t frames, jack_nframes_t cycleStart,
                            uint64_t interruptedAt, uint64_t interruptionUs) {
  jack_port_t* port = slot.Port.load();
  if (port == nullptr)
    return;
  slot.Ring->FlushMarks();
  const bool interrupted = interruptedAt > 0;
  if (interrupted)
    slot.Ring->MarkInterrupted(interruptedAt, interruptionUs);
  void* buffer = jack_port_get_buffer(port, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  bool any = interrupted;
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
      continue;
    const uint64_t time = jack_frames_to_time(FClient, cycleStart + event.time);
    slot.Ring->Write(time, event.buffer, uint32_t(event.size));
    any = true;
  }
  if (any)
    sem_post(&FInputArrived);
}

void TJackClient::WriteOutput(TJackOutSlot& slot, jack_nframes_t frames) {
  if (jack_port_t* closing = slot.Closing.load()) {
    jack_midi_clear_buffer(jack_port_get_buffer(closing, frames));
    return;
  }
  jack_port_t* port = slot.Port.load();
  if (port == nullptr)
    return;
  void* buffer = jack_port_get_buffer(port, frames);
  jack_midi_clear_buffer(buffer);
  const size_t emptyRoom = jack_midi_max_event_size(buffer);
  slot.MaxEventSize.store(uint32_t(emptyRoom), std::memory_order_relaxed);
  const uint32_t generation = slot.Generation.load();
  bool wroteAny = false;
  uint32_t header[2];
  while (jack_ringbuffer_read_space(slot.Ring) >= OutHeaderBytes) {
    jack_ringbuffer_peek(slot.Ring, reinterpret_cast<char*>(header), OutHeaderBytes);
    const uint32_t size = header[0];
    const uint32_t tag = header[1];
    if (jack_ringbuffer_read_space(slot.Ring) < OutHeaderBytes + size)
      break;
    // Cancelled by a reset, or larger than any period takes (the server's buffer
    // size shrank after it was queued): skipped, so the port never stalls.
    const bool skip = (tag >> 1) != generation || (size > emptyRoom && !wroteAny);
    if (skip && !(tag & JackEndsBuffer)) {
      jack_ringbuffer_read_advance(slot.Ring, OutHeaderBytes + size);
      continue;
    }
    const bool endsBuffer = (tag >> 1) == generation && (tag & JackEndsBuffer);
    if (endsBuffer && jack_ringbuffer_write_space(slot.Done) < sizeof tag)
      break;
    if (size > 0 && !skip) {
      // What does not fit this period's buffer stays for the next one.
      if (jack_midi_max_event_size(buffer) < size)
        break;
      jack_midi_data_t* target = jack_midi_event_reserve(buffer, 0, size);
      if (target == nullptr)
        break;
      jack_ringbuffer_read_advance(slot.Ring, OutHeaderBytes);
      jack_ringbuffer_read(slot.Ring, reinterpret_cast<char*>(target), size);
      wroteAny = true;
    } else {
      jack_ringbuffer_read_advance(slot.Ring, OutHeaderBytes + size);
    }
    if (endsBuffer)
      jack_ringbuffer_write(slot.Done, reinterpret_cast<const char*>(&tag), sizeof tag);
  }
}

// Moves what the process callback received into the ports' input streams.
void TJackClient::ServiceLoop() {
  bool held = false;
  while (!FQuit.load()) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    // Input held back is handed on soon after its time has come.
    deadline.tv_nsec += held ? 20'000'000 : 100'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000;
    }
    sem_timedwait(&FInputArrived, &deadline);
    CheckServer();
    held = DrainInput(false);
  }
}

bool TJackClient::DrainInput(bool all) {
  std::lock_guard lock(FSlotLock);
  bool held = false;
  for (auto& slot : FIn) {
    DrainSlot(slot, all);
    held = held || !slot.Hold.Empty();
  }
  return held;
}

// Under the slot lock. all: what is held back goes on too (the input stops).
void TJackClient::DrainSlot(TJackInSlot& slot, bool all) {
  if (slot.Stream == nullptr)
    return;
  TJackInputHold& hold = slot.Hold;
  slot.Ring->Drain(
      [&](uint64_t time, const uint8_t* data, size_t size) { hold.Event(time, data, size); },
      [&](uint64_t time, uint32_t lost) { hold.Loss(time, lost); },
      [&](uint64_t time, uint32_t spanUs) { hold.Interruption(time, spanUs); });
  // Time stamps move from JACK's microsecond clock to the program's millisecond one.
  const uint64_t jackNow = jack_get_time();
  const uint32_t programNow = TimeGetTime();
  const auto programTime = [&](uint64_t jackTime) {
    return programNow - uint32_t((jackNow > jackTime ? jackNow - jackTime : 0) / 1000);
  };
  TMidiInputStream& stream = *slot.Stream;
  hold.Release(all ? UINT64_MAX : jackNow, [&](const TJackInputHold::TRecord& record) {
    const uint32_t time = programTime(record.Time);
    switch (record.Kind) {
    case TJackInputHold::TKind::Event:
      stream.Feed(record.Bytes.data(), record.Bytes.size(), time);
      break;
    case TJackInputHold::TKind::Loss:
      stream.FeedLost(time, record.Value);
      break;
    case TJackInputHold::TKind::Interruption:
      stream.FeedInterrupted(time, record.Value / 1000);
      break;
    }
  });
}

void TJackClient::FlushIn(TJackInSlot& slot) {
  std::lock_guard lock(FSlotLock);
  DrainSlot(slot, true);
}

} // namespace pelrow
