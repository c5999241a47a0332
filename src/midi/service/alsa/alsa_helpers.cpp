// The sequencer handles and the reader thread.
#include "midi/service/alsa/alsa_helpers.h"

#include "midi/service/midi_input_stream.h"
#include "support/clock.h"
#include "support/trace.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

constexpr const char* TextNoDevice = "there is no ALSA sequencer device (/dev/snd/seq)";
constexpr const char* TextCannotOpen = "the ALSA sequencer cannot be opened: ";
constexpr const char* TextNoDecoder = "the ALSA event decoder cannot be made";
constexpr const char* TextNoReader = "the ALSA reader cannot be started";
constexpr const char* TextRefused = "The ALSA sequencer refused the port: %s.";

snd_seq_t* OpenHandle(int streams, int& client, std::string& failure) {
  snd_seq_t* handle = nullptr;
  if (const int error = snd_seq_open(&handle, "default", streams, SND_SEQ_NONBLOCK); error < 0) {
    failure = TextCannotOpen + std::string(snd_strerror(error));
    return nullptr;
  }
  snd_seq_set_client_name(handle, TAlsaSequencer::ClientName);
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

bool AlsaErrorText(TMidiResult code, std::string& text) {
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

int TAlsaSequencer::OpenInput(const TAlsaAddress& source, TMidiInputStream& stream) {
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
  FInputs[port] = &stream;
  return port;
}

void TAlsaSequencer::CloseInput(int port) {
  std::lock_guard lock(FInLock);
  FInputs.erase(port);
  snd_seq_delete_simple_port(FIn, port);
}

int TAlsaSequencer::OpenOutput(const TAlsaAddress& destination) {
  std::lock_guard lock(FOutLock);
  const int port = snd_seq_create_simple_port(
      FOut, "Pelrow Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0)
    return port;
  if (const int error = snd_seq_connect_to(FOut, port, destination.Client, destination.Port);
      error < 0) {
    snd_seq_delete_simple_port(FOut, port);
    return error;
  }
  return port;
}

void TAlsaSequencer::CloseOutput(int port) {
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
  for (auto& [port, stream] : FInputs)
    stream->FeedLost(now);
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
    if (FAnnounce && !IsOwnClient(event.data.addr.client))
      FAnnounce();
    return;
  default:
    break;
  }
  const auto input = FInputs.find(event.dest.port);
  if (input == FInputs.end())
    return;
  const uint32_t now = TimeGetTime();
  if (event.type == SND_SEQ_EVENT_SYSEX) {
    input->second->Feed(static_cast<const uint8_t*>(event.data.ext.ptr), event.data.ext.len, now);
    return;
  }
  unsigned char bytes[DecodeBytes];
  const long count = snd_midi_event_decode(FDecoder, bytes, sizeof bytes, &event);
  if (count > 0)
    input->second->Feed(bytes, size_t(count), now);
}

void TAlsaSequencer::ReaderLoop() {
  const int count = snd_seq_poll_descriptors_count(FIn, POLLIN);
  std::vector<pollfd> fds(size_t(count) + 1);
  snd_seq_poll_descriptors(FIn, fds.data(), unsigned(count), POLLIN);
  fds[size_t(count)] = {FStopFd, POLLIN, 0};
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      return;
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
  }
}

} // namespace pelrow
