// The JACK client, its process callback and the input service thread.
#include "midi/service/jack/jack_helpers.h"

#include "midi/service/midi_input_stream.h"
#include "support/clock.h"
#include "support/trace.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstring>
#include <ctime>
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

void TraceJack(const char* text) {
  Trace(std::string("JACK: ") + text);
}
} // namespace

void TJackClient::NotifyPortsChanged() {
  if (FPortsChanged)
    FPortsChanged();
}

std::unique_ptr<TJackClient> TJackClient::Open(const std::string& name,
                                               std::function<void()> portsChanged,
                                               std::string& failure) {
  jack_set_error_function(TraceJack);
  jack_set_info_function(TraceJack);
  std::unique_ptr<TJackClient> client(new TJackClient());
  client->FPortsChanged = std::move(portsChanged);
  jack_status_t status{};
  client->FClient = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client->FClient == nullptr) {
    failure = (status & JackServerFailed) ? TextNoServer : TextRefused;
    return nullptr;
  }
  sem_init(&client->FInputArrived, 0, 0);
  client->FSemaphoreReady = true;
  TJackClient* self = client.get();
  jack_set_process_callback(
      self->FClient,
      [](jack_nframes_t n, void* arg) { return static_cast<TJackClient*>(arg)->Process(n); }, self);
  jack_set_port_registration_callback(
      self->FClient,
      [](jack_port_id_t id, int, void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        // Our own ports are never devices; opening one is no device change.
        jack_port_t* port = jack_port_by_id(me->FClient, id);
        if (port == nullptr || !jack_port_is_mine(me->FClient, port))
          me->NotifyPortsChanged();
      },
      self);
  jack_set_xrun_callback(
      self->FClient,
      [](void* arg) {
        static_cast<TJackClient*>(arg)->FXruns.fetch_add(1, std::memory_order_relaxed);
        return 0;
      },
      self);
  jack_set_port_rename_callback(
      self->FClient,
      [](jack_port_id_t, const char*, const char*, void* arg) {
        static_cast<TJackClient*>(arg)->NotifyPortsChanged();
      },
      self);
  jack_on_info_shutdown(
      self->FClient,
      [](jack_status_t, const char* reason, void* arg) {
        auto* me = static_cast<TJackClient*>(arg);
        me->FAlive = false;
        Trace(std::string("JACK: the server shut us down: ") + (reason ? reason : ""));
        me->NotifyPortsChanged();
      },
      self);
  if (jack_activate(self->FClient) != 0) {
    failure = TextNotActivated;
    return nullptr;
  }
  self->FService = std::thread([self] { self->ServiceLoop(); });
  return client;
}

TJackClient::~TJackClient() {
  if (FService.joinable()) {
    FQuit = true;
    sem_post(&FInputArrived);
    FService.join();
  }
  if (FClient != nullptr) {
    jack_deactivate(FClient);
    jack_client_close(FClient);
  }
  for (auto& slot : FOut) {
    if (slot.Ring)
      jack_ringbuffer_free(slot.Ring);
    if (slot.Done)
      jack_ringbuffer_free(slot.Done);
  }
  if (FSemaphoreReady)
    sem_destroy(&FInputArrived);
}

std::string TJackClient::OwnName() const {
  return jack_get_client_name(FClient);
}

jack_port_t* TJackClient::RegisterPort(bool input) {
  std::lock_guard lock(FSlotLock);
  const std::string name = (input ? "in_" : "out_") + std::to_string(++FPortSerial);
  return jack_port_register(FClient, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                            input ? JackPortIsInput : JackPortIsOutput, 0);
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

void TJackClient::PublishOut(TJackOutSlot& slot, jack_port_t* port) {
  slot.Port.store(port);
}

// Either the process callback has seen the cleared port, or it was inside a cycle
// when it was cleared; in that case the next cycle count proves the cycle is over.
void TJackClient::WaitForCycleEnd() {
  if (!FInCycle.load())
    return;
  const uint64_t cycle = FCycles.load();
  const auto limit = std::chrono::steady_clock::now() + CycleWaitLimit;
  while (FInCycle.load() && FCycles.load() == cycle && FAlive.load() &&
         std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void TJackClient::WaitUntilConnected() {
  const uint64_t cycle = FCycles.load();
  const auto limit = std::chrono::steady_clock::now() + CycleWaitLimit;
  while (FCycles.load() < cycle + 2 && FAlive.load() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void TJackClient::Unregister(std::atomic<jack_port_t*>& port) {
  jack_port_t* old = port.exchange(nullptr);
  WaitForCycleEnd();
  if (old != nullptr && FAlive.load())
    jack_port_unregister(FClient, old);
}

void TJackClient::ReleaseIn(TJackInSlot& slot) {
  Unregister(slot.Port);
  std::lock_guard lock(FSlotLock); // the service thread drains under this lock
  slot.Stream = nullptr;
  slot.Ring->Clear();
  slot.Used = false;
}

void TJackClient::ReleaseOut(TJackOutSlot& slot) {
  Unregister(slot.Port);
  std::lock_guard lock(FSlotLock);
  jack_ringbuffer_reset(slot.Ring);
  jack_ringbuffer_reset(slot.Done);
  slot.Used = false;
}

int TJackClient::Process(jack_nframes_t frames) {
  FInCycle.store(true);
  const jack_nframes_t cycleStart = jack_last_frame_time(FClient);
  // Input may have been lost in an xrun since the last cycle.
  const uint32_t xruns = FXruns.load(std::memory_order_relaxed);
  const bool xrun = xruns != FXrunsSeen;
  FXrunsSeen = xruns;
  for (auto& slot : FIn)
    ReadInput(slot, frames, cycleStart, xrun);
  for (auto& slot : FOut)
    WriteOutput(slot, frames);
  FCycles.fetch_add(1);
  FInCycle.store(false);
  return 0;
}

void TJackClient::ReadInput(TJackInSlot& slot, jack_nframes_t frames, jack_nframes_t cycleStart,
                            bool xrun) {
  jack_port_t* port = slot.Port.load();
  if (port == nullptr)
    return;
  if (xrun)
    slot.Ring->MarkLoss(jack_frames_to_time(FClient, cycleStart));
  void* buffer = jack_port_get_buffer(port, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  bool any = xrun;
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
  std::vector<uint8_t> bytes;
  while (!FQuit.load()) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += 100'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000;
    }
    sem_timedwait(&FInputArrived, &deadline);
    std::lock_guard lock(FSlotLock);
    // Time stamps move from JACK's microsecond clock to the program's millisecond one.
    const uint64_t jackNow = jack_get_time();
    const uint32_t programNow = TimeGetTime();
    const auto programTime = [&](uint64_t jackTime) {
      return programNow - uint32_t((jackNow > jackTime ? jackNow - jackTime : 0) / 1000);
    };
    for (auto& slot : FIn) {
      if (slot.Stream == nullptr)
        continue;
      TMidiInputStream& stream = *slot.Stream;
      slot.Ring->Drain([&](uint64_t time, const uint8_t* data,
                           size_t size) { stream.Feed(data, size, programTime(time)); },
                       [&](uint64_t time) { stream.FeedLost(programTime(time)); });
    }
  }
}

} // namespace pelrow
