// The sequencer handles and the reader thread.
#include "midi/service/alsa/alsa_helpers.h"

#include "midi/service/midi_input_stream.h"
#include "support/clock.h"
#include "support/trace.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace pelrow {

namespace {
// The kernel keeps about 5.5 KB for a client by default, too little for the SysEx
// a bulk dump brings; 2000 cells is the most it grants.
constexpr int PoolCells = 2000;
constexpr size_t InputBufferBytes = size_t(256) << 10;
// Larger than any event we send; the default 16 KiB refuses bigger ones.
constexpr size_t OutputBufferBytes = size_t(64) << 10;
constexpr size_t DecodeBytes = 256;
// Above ordinary threads, below the audio servers' own (JACK asks for 10 and more).
constexpr int ReaderPriority = 5;
// Backend codes: MidiErrBackendBase + errno for a port the sequencer refused,
// ReaderFailedBase + errno for a reader that can wait for input no more.
constexpr TMidiResult ReaderFailedBase = MidiErrBackendBase + 1000;

constexpr const char* TextNoDevice = "there is no ALSA sequencer device (/dev/snd/seq)";
constexpr const char* TextCannotOpen = "the ALSA sequencer cannot be opened: ";
constexpr const char* TextNoDecoder = "the ALSA event decoder cannot be made";
constexpr const char* TextNoReader = "the ALSA reader cannot be started";
constexpr const char* TextRefused = "The ALSA sequencer refused the port: %s.";
constexpr const char* TextReaderFailed =
    "ALSA input can no longer be read: waiting for it failed (%s).";

snd_seq_t* OpenHandle(int streams, int& client, std::string& failure) {
  snd_seq_t* handle = nullptr;
  if (const int error = snd_seq_open(&handle, "default", streams, SND_SEQ_NONBLOCK); error < 0) {
    failure = TextCannotOpen + std::string(snd_strerror(error));
    return nullptr;
  }
  snd_seq_set_client_name(handle, MidiClientSettings().Name.c_str());
  client = snd_seq_client_id(handle);
  return handle;
}
} // namespace

TMidiResult AlsaOpenResult(int error) {
  switch (-error) {
  case 0:
    return MidiOk;
  case EBUSY:
    return MidiErrAllocated;
  case EPERM:
  case EACCES:
    return MidiErrAccessDenied;
  case ENOMEM:
    return MidiErrNoMemory;
  // The client or port is gone (the kernel says EINVAL for an unknown address).
  case ENOENT:
  case ENXIO:
  case ENODEV:
  case EINVAL:
    return MidiErrNoDevice;
  default:
    return MidiErrBackendBase + TMidiResult(-error);
  }
}

TMidiResult AlsaReaderFailure(int error) {
  return ReaderFailedBase + TMidiResult(error);
}

bool AlsaErrorText(TMidiResult code, std::string& text) {
  if (code > ReaderFailedBase) {
    text = FormatText(TextReaderFailed, snd_strerror(-int(code - ReaderFailedBase)));
    return true;
  }
  if (code <= MidiErrBackendBase)
    return false;
  text = FormatText(TextRefused, snd_strerror(-int(code - MidiErrBackendBase)));
  return true;
}

std::unique_ptr<TAlsaSequencer> TAlsaSequencer::Open(std::function<void()> announce,
                                                     std::string& failure) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    failure = TextNoDevice;
    return nullptr;
  }
  std::unique_ptr<TAlsaSequencer> seq(new TAlsaSequencer());
  seq->FAnnounce = std::move(announce);
  seq->FIn = OpenHandle(SND_SEQ_OPEN_INPUT, seq->FInClient, failure);
  if (seq->FIn == nullptr)
    return nullptr;
  seq->FOut = OpenHandle(SND_SEQ_OPEN_OUTPUT, seq->FOutClient, failure);
  if (seq->FOut == nullptr)
    return nullptr;
  snd_seq_set_input_buffer_size(seq->FIn, InputBufferBytes);
  snd_seq_set_client_pool_input(seq->FIn, PoolCells);
  snd_seq_set_output_buffer_size(seq->FOut, OutputBufferBytes);
  snd_seq_set_client_pool_output(seq->FOut, PoolCells);

  seq->FAnnouncePort = snd_seq_create_simple_port(
      seq->FIn, "Announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
      SND_SEQ_PORT_TYPE_APPLICATION);
  if (seq->FAnnouncePort < 0 ||
      snd_seq_connect_from(seq->FIn, seq->FAnnouncePort, SND_SEQ_CLIENT_SYSTEM,
                           SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0)
    Trace("ALSA: no hot-plug notices (System Announce cannot be subscribed)");
  if (snd_midi_event_new(DecodeBytes, &seq->FDecoder) < 0) {
    failure = TextNoDecoder;
    return nullptr;
  }
  snd_midi_event_no_status(seq->FDecoder, 1);
  seq->FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (seq->FStopFd < 0) {
    failure = TextNoReader;
    return nullptr;
  }
  TAlsaSequencer* self = seq.get();
  seq->FReader = std::thread([self] { self->ReaderLoop(); });
  return seq;
}

TAlsaSequencer::~TAlsaSequencer() {
  if (FReader.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(FStopFd, &one, sizeof one);
    FReader.join();
  }
  if (FStopFd >= 0)
    close(FStopFd);
  if (FDecoder)
    snd_midi_event_free(FDecoder);
  if (FIn)
    snd_seq_close(FIn);
  if (FOut)
    snd_seq_close(FOut);
}

bool TAlsaSequencer::IsOwnClient(int client) const {
  return client == FInClient || client == FOutClient;
}

int TAlsaSequencer::OpenInput(const std::string& sourceName, const TAlsaAddress& source,
                              TMidiInputStream& stream, std::function<void(uint32_t)> watch) {
  std::lock_guard lock(FInLock);
  const int port = snd_seq_create_simple_port(
      FIn, "Pelrow In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0)
    return port;
  if (const int error = snd_seq_connect_from(FIn, port, source.Client, source.Port); error < 0) {
    snd_seq_delete_simple_port(FIn, port);
    return error;
  }
  FInputs[port] = TInput{&stream, sourceName, source, true, false, std::move(watch)};
  return port;
}

void TAlsaSequencer::CloseInput(int port) {
  std::lock_guard lock(FInLock);
  FInputs.erase(port);
  snd_seq_delete_simple_port(FIn, port);
}

int TAlsaSequencer::OpenOutput(const std::string& destinationName, TAlsaOutLink& link) {
  int port = -1;
  {
    std::lock_guard lock(FOutLock);
    port = snd_seq_create_simple_port(
        FOut, "Pelrow Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0)
      return port;
    const TAlsaAddress destination = link.Get();
    if (const int error = snd_seq_connect_to(FOut, port, destination.Client, destination.Port);
        error < 0) {
      snd_seq_delete_simple_port(FOut, port);
      return error;
    }
  }
  std::lock_guard lock(FInLock);
  FOutputs[port] = TOutput{&link, destinationName};
  return port;
}

void TAlsaSequencer::CloseOutput(int port) {
  {
    std::lock_guard lock(FInLock);
    FOutputs.erase(port);
  }
  std::lock_guard lock(FOutLock);
  snd_seq_delete_simple_port(FOut, port);
}

int TAlsaSequencer::SendDirect(snd_seq_event_t& event) {
  std::lock_guard lock(FOutLock);
  return snd_seq_event_output_direct(FOut, &event);
}

void TAlsaSequencer::ReportLost() {
  Trace("ALSA: the sequencer's input queue overflowed");
  const uint32_t now = TimeGetTime();
  for (auto& [port, input] : FInputs)
    input.Stream->FeedLost(now);
}

// Reader thread, FInLock held: every input fails with the reason.
void TAlsaSequencer::FailInputs(int error) {
  FReaderFailure = AlsaReaderFailure(error);
  Trace(std::string("ALSA: the sequencer's reader stopped: poll failed: ") + strerror(error));
  const uint32_t now = TimeGetTime();
  for (auto& [port, input] : FInputs)
    input.Stream->FeedFailed(FReaderFailure, now);
}

// Reader thread, FInLock held: calls the watches that are due; returns how long
// the reader may wait for input before the next one is (-1: for ever).
int TAlsaSequencer::RunWatches() {
  const uint32_t now = TimeGetTime();
  int wait = -1;
  for (auto& [port, input] : FInputs) {
    if (!input.WatchDue)
      continue;
    const uint32_t since = now - input.WatchedMs;
    if (since >= WatchMs) {
      input.WatchDue = false;
      input.WatchedMs = now;
      input.Watch(now);
    } else if (wait < 0 || int(WatchMs - since) < wait) {
      wait = int(WatchMs - since);
    }
  }
  return wait;
}

void TAlsaSequencer::Dispatch(const snd_seq_event_t& event) {
  switch (event.type) {
  case SND_SEQ_EVENT_CLIENT_START:
  case SND_SEQ_EVENT_CLIENT_EXIT:
  case SND_SEQ_EVENT_CLIENT_CHANGE:
  case SND_SEQ_EVENT_PORT_START:
  case SND_SEQ_EVENT_PORT_EXIT:
  case SND_SEQ_EVENT_PORT_CHANGE:
    // Our own ports are never devices; opening one is no device change.
    if (IsOwnClient(event.data.addr.client))
      return;
    FollowFarEnds(event);
    if (FAnnounce)
      FAnnounce();
    return;
  case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
    FollowFarEnds(event);
    return;
  default:
    break;
  }
  const auto input = FInputs.find(event.dest.port);
  if (input == FInputs.end())
    return;
  input->second.WatchDue = bool(input->second.Watch);
  const uint32_t now = TimeGetTime();
  if (event.type == SND_SEQ_EVENT_SYSEX) {
    input->second.Stream->Feed(static_cast<const uint8_t*>(event.data.ext.ptr),
                               event.data.ext.len, now);
    return;
  }
  unsigned char bytes[DecodeBytes];
  const long count = snd_midi_event_decode(FDecoder, bytes, sizeof bytes, &event);
  if (count > 0)
    input->second.Stream->Feed(bytes, size_t(count), now);
}

namespace {
bool SameAddress(const TAlsaAddress& a, const snd_seq_addr_t& b) {
  return a.Client == b.client && a.Port == b.port;
}
} // namespace

// Reader thread, FInLock held. A subscription of an input that ends (its source
// went away, or a patchbay disconnected it) is reported once; a far end whose port
// went away is taken up again by the next port of its name.
void TAlsaSequencer::FollowFarEnds(const snd_seq_event_t& event) {
  switch (event.type) {
  case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
    const snd_seq_connect_t& connect = event.data.connect;
    const auto input = FInputs.find(connect.dest.port);
    if (connect.dest.client == FInClient && input != FInputs.end() &&
        SameAddress(input->second.Address, connect.sender) && input->second.Connected) {
      input->second.Connected = false;
      input->second.Stream->FeedDisconnected(TimeGetTime());
    }
    return;
  }
  case SND_SEQ_EVENT_PORT_EXIT:
    FarEndGone(event.data.addr);
    return;
  case SND_SEQ_EVENT_PORT_START:
  case SND_SEQ_EVENT_PORT_CHANGE:
  case SND_SEQ_EVENT_CLIENT_CHANGE:
    FarEndsReturned(event.data.addr.client);
    return;
  default:
    return;
  }
}

void TAlsaSequencer::FarEndGone(const snd_seq_addr_t& address) {
  for (auto& [port, input] : FInputs) {
    if (!SameAddress(input.Address, address))
      continue;
    input.Gone = true;
    if (input.Connected) {
      input.Connected = false;
      input.Stream->FeedDisconnected(TimeGetTime());
    }
  }
  for (auto& [port, output] : FOutputs)
    if (SameAddress(output.Link->Get(), address))
      output.Gone = true;
}

void TAlsaSequencer::FarEndsReturned(int client) {
  const auto gone = [](const auto& entry) { return entry.second.Gone; };
  if (std::none_of(FInputs.begin(), FInputs.end(), gone) &&
      std::none_of(FOutputs.begin(), FOutputs.end(), gone))
    return;
  snd_seq_client_info_t* clientInfo;
  snd_seq_port_info_t* portInfo;
  snd_seq_client_info_alloca(&clientInfo);
  snd_seq_port_info_alloca(&portInfo);
  if (snd_seq_get_any_client_info(FIn, client, clientInfo) < 0)
    return;
  const std::string clientName = snd_seq_client_info_get_name(clientInfo);
  snd_seq_port_info_set_client(portInfo, client);
  snd_seq_port_info_set_port(portInfo, -1);
  while (snd_seq_query_next_port(FIn, portInfo) >= 0) {
    const std::string name = clientName + ":" + snd_seq_port_info_get_name(portInfo);
    const TAlsaAddress address{client, snd_seq_port_info_get_port(portInfo)};
    for (auto& [port, input] : FInputs) {
      if (!input.Gone || input.Source != name ||
          snd_seq_connect_from(FIn, port, address.Client, address.Port) < 0)
        continue;
      Trace("ALSA: " + name + " came back; its input is subscribed again");
      input.Address = address;
      input.Gone = false;
      input.Connected = true;
    }
    for (auto& [port, output] : FOutputs) {
      if (!output.Gone || output.Destination != name)
        continue;
      std::lock_guard lock(FOutLock);
      if (snd_seq_connect_to(FOut, port, address.Client, address.Port) < 0)
        continue;
      Trace("ALSA: " + name + " came back; its output is subscribed again");
      output.Link->Set(address);
      output.Gone = false;
    }
  }
}

void TAlsaSequencer::ReaderLoop() {
  // The kernel queues at most 2000 cells for us, about 46 KB of SysEx: a dump that
  // comes faster than that (a virtual port, or a busy machine) is lost unless this
  // thread runs as soon as events wait. Real-time priority where the system grants
  // it; without, the loss is reported as usual.
  const sched_param priority{ReaderPriority};
  if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority); error != 0)
    Trace(std::string("ALSA: the reader runs without real-time priority: ") + strerror(error));
  const int count = snd_seq_poll_descriptors_count(FIn, POLLIN);
  std::vector<pollfd> fds(size_t(count) + 1);
  snd_seq_poll_descriptors(FIn, fds.data(), unsigned(count), POLLIN);
  fds[size_t(count)] = {FStopFd, POLLIN, 0};
  int wait = -1;
  for (;;) {
    if (poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) {
      const int error = errno;
      std::lock_guard lock(FInLock);
      FailInputs(error);
      return;
    }
    if (fds[size_t(count)].revents & POLLIN)
      return;
    std::lock_guard lock(FInLock);
    for (;;) {
      snd_seq_event_t* event = nullptr;
      const int result = snd_seq_event_input(FIn, &event);
      if (result == -ENOSPC) {
        ReportLost();
        continue;
      }
      if (result < 0 || event == nullptr)
        break;
      Dispatch(*event);
    }
    wait = RunWatches();
  }
}

} // namespace pelrow
