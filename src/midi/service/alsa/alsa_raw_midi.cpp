// Writing to and reading from a hardware port's raw MIDI device.
#include "midi/service/alsa/alsa_raw_midi.h"

#include "midi/service/alsa/alsa_helpers.h"
#include "support/clock.h"
#include "support/trace.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace pelrow {

namespace {
// The kernel's sequencer driver numbers a card's ports by device and subdevice.
constexpr int PortsPerRawDevice = 32;
constexpr uint32_t PieceBytes = 4096;
constexpr auto IdleWait = std::chrono::microseconds(100'000);
// How long a write waits for room before it looks for a reset or close.
constexpr int WriteWaitMs = 20;
// The most the kernel grants: five seconds of USB MIDI at full speed, while the
// reader is held up.
constexpr size_t InputBufferBytes = size_t(1) << 20;
constexpr size_t ReadBytes = 4096;

std::vector<pollfd> PollDescriptors(snd_rawmidi_t* rawmidi, short events) {
  std::vector<pollfd> fds(size_t(std::max(snd_rawmidi_poll_descriptors_count(rawmidi), 0)));
  const int count = snd_rawmidi_poll_descriptors(rawmidi, fds.data(), unsigned(fds.size()));
  fds.resize(size_t(std::max(count, 0)));
  for (pollfd& fd : fds)
    fd.events = events;
  return fds;
}
} // namespace

std::string RawMidiDeviceOf(const TAlsaPort& port) {
  if (!port.Hardware || port.Card < 0)
    return {};
  return "hw:" + std::to_string(port.Card) + "," +
         std::to_string(port.Address.Port / PortsPerRawDevice) + "," +
         std::to_string(port.Address.Port % PortsPerRawDevice);
}

TRawMidiOverruns::TRawMidiOverruns(const TAlsaPort& port) {
  if (!port.Hardware || port.Card < 0)
    return;
  FPath = "/proc/asound/card" + std::to_string(port.Card) + "/midi" +
          std::to_string(port.Address.Port / PortsPerRawDevice);
  FSection = "Input " + std::to_string(port.Address.Port % PortsPerRawDevice);
}

// The listing reads "Input 0", then lines such as "  Overruns     : 12".
int64_t TRawMidiOverruns::Read() const {
  if (FPath.empty())
    return -1;
  std::ifstream file(FPath);
  std::string line;
  bool inSection = false;
  while (std::getline(file, line)) {
    if (!line.empty() && line[0] != ' ') {
      inSection = line == FSection;
    } else if (inSection && line.find("Overruns") != std::string::npos) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos)
        return std::strtoll(line.c_str() + colon + 1, nullptr, 10);
    }
  }
  return -1;
}

TAlsaRawOutPort::TAlsaRawOutPort(TMidiOutCallback callback)
    : TOrderedOutPort(std::move(callback)) {}

std::unique_ptr<TAlsaRawOutPort>
TAlsaRawOutPort::Open(const std::string& device, TMidiOutCallback callback, TMidiResult& result) {
  std::unique_ptr<TAlsaRawOutPort> port(new TAlsaRawOutPort(std::move(callback)));
  if (const int error =
          snd_rawmidi_open(nullptr, &port->FOut, device.c_str(), SND_RAWMIDI_NONBLOCK);
      error < 0) {
    port->FOut = nullptr;
    result = AlsaOpenResult(error);
    return nullptr;
  }
  port->FWriter = std::thread([p = port.get()] { p->Run(); });
  result = MidiOk;
  return port;
}

// Closing lets the device play what it holds (the kernel waits for it).
TAlsaRawOutPort::~TAlsaRawOutPort() {
  if (FWriter.joinable()) {
    FQueue.Reset();
    FQueue.Quit();
    FWriter.join();
  }
  FQueue.CompleteRemaining();
  if (FOut)
    snd_rawmidi_close(FOut);
}

// Waits for the device as long as it takes the bytes; a reset or close ends the
// wait, and a device that fails (unplugged) fails the buffer.
void TAlsaRawOutPort::WriteAll(const uint8_t* data, size_t size) {
  std::vector<pollfd> fds = PollDescriptors(FOut, POLLOUT);
  while (size > 0 && !FFailed && !FQueue.Interrupted()) {
    const ssize_t written = snd_rawmidi_write(FOut, data, size);
    if (written > 0) {
      data += written;
      size -= size_t(written);
    } else if (written == -EAGAIN || written == 0) {
      poll(fds.data(), fds.size(), WriteWaitMs);
    } else {
      Trace(std::string("ALSA: the raw MIDI device refused bytes: ") + snd_strerror(int(written)));
      FFailed = true;
    }
  }
  if (size > 0)
    FFailed = true; // given up on for a reset or close
}

void TAlsaRawOutPort::Run() {
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset()) {
      FFailed = false;
      continue;
    }
    TOrderedOutput::TPiece piece;
    if (!FQueue.NextPiece(PieceBytes, piece)) {
      FQueue.Wait(IdleWait, true);
      continue;
    }
    WriteAll(piece.Data, piece.Count);
    // The kernel counts bytes as written before it copies them into the device's
    // ring, unlocked; a device that takes bytes meanwhile (USB, on another
    // processor) can pass on what the ring held a lap before. Each piece goes into
    // an empty ring, so the device is never still taking bytes during the copy.
    if (!FFailed)
      snd_rawmidi_drain(FOut);
    FQueue.PieceSent(piece, FFailed);
    if (piece.EndsBuffer)
      FQueue.CompleteOldest(FFailed);
    if (piece.EndsBuffer || !piece.FromBuffer)
      FFailed = false;
  }
}

TAlsaRawInPort::TAlsaRawInPort(TMidiInCallback callback) : TMidiInputStream(std::move(callback)) {}

std::unique_ptr<TAlsaRawInPort>
TAlsaRawInPort::Open(const std::string& device, TMidiInCallback callback, TMidiResult& result) {
  std::unique_ptr<TAlsaRawInPort> port(new TAlsaRawInPort(std::move(callback)));
  port->FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->FStopFd < 0) {
    result = MidiErrNoMemory;
    return nullptr;
  }
  // From the open to the first read the USB driver drops what arrives: nothing
  // else happens in between.
  if (const int error = snd_rawmidi_open(&port->FIn, nullptr, device.c_str(), SND_RAWMIDI_NONBLOCK);
      error < 0) {
    port->FIn = nullptr;
    result = AlsaOpenResult(error);
    return nullptr;
  }
  snd_rawmidi_params_t* params;
  snd_rawmidi_params_alloca(&params);
  if (snd_rawmidi_params_current(port->FIn, params) < 0 ||
      snd_rawmidi_params_set_buffer_size(port->FIn, params, InputBufferBytes) < 0 ||
      snd_rawmidi_params(port->FIn, params) < 0)
    Trace("ALSA: the raw MIDI input keeps its small buffer");
  port->ReadAvailable();
  port->FReader = std::thread([p = port.get()] { p->Run(); });
  result = MidiOk;
  return port;
}

// An input started after its reader stopped hears of it at once.
TMidiResult TAlsaRawInPort::Start() {
  const TMidiResult result = TMidiInputStream::Start();
  if (const TMidiResult failure = FFailure; failure != MidiOk)
    FeedFailed(failure, TimeGetTime());
  return result;
}

TAlsaRawInPort::~TAlsaRawInPort() {
  if (FReader.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(FStopFd, &one, sizeof one);
    FReader.join();
  }
  Shutdown();
  if (FStopFd >= 0)
    close(FStopFd);
  if (FIn)
    snd_rawmidi_close(FIn);
}

// Feeds what the device holds, then the bytes it had to drop for want of room
// since the last look (the kernel counts them and starts again from 0); false
// once the device is gone.
bool TAlsaRawInPort::ReadAvailable() {
  uint8_t bytes[ReadBytes];
  for (;;) {
    const ssize_t got = snd_rawmidi_read(FIn, bytes, sizeof bytes);
    if (got == -EAGAIN || got == 0)
      break;
    if (got < 0) {
      Trace(std::string("ALSA: the raw MIDI input failed: ") + snd_strerror(int(got)));
      FeedDisconnected(TimeGetTime());
      return false;
    }
    Feed(bytes, size_t(got), TimeGetTime());
  }
  snd_rawmidi_status_t* status;
  snd_rawmidi_status_alloca(&status);
  if (snd_rawmidi_status(FIn, status) == 0)
    if (const size_t dropped = snd_rawmidi_status_get_xruns(status); dropped > 0) {
      Trace("ALSA: the raw MIDI input overran");
      FeedLost(TimeGetTime(), dropped);
    }
  return true;
}

// A reader that can wait no more fails the input: nothing more would come.
void TAlsaRawInPort::Run() {
  std::vector<pollfd> fds = PollDescriptors(FIn, POLLIN);
  fds.push_back({FStopFd, POLLIN, 0});
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      FFailure = AlsaReaderFailure(errno);
      Trace("ALSA: the raw MIDI reader stopped: poll failed");
      FeedFailed(FFailure, TimeGetTime());
      return;
    }
    if (fds.back().revents & POLLIN)
      return;
    if (!ReadAvailable())
      return;
  }
}

} // namespace pelrow
