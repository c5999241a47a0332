// Opening, feeding and closing a JACK MIDI output.
#include "midi/service/jack/jack_output.h"

#include <cerrno>

namespace pelrow {

namespace {
// While data is in the ring the writer looks for completions and room this often;
// a period of the usual server settings is a few milliseconds.
constexpr auto BusyPoll = std::chrono::microseconds(1000);
constexpr auto IdleWait = std::chrono::microseconds(100'000);
constexpr uint32_t GenerationMask = 0x7FFFFFFF;
} // namespace

TJackOutPort::TJackOutPort(TJackClient& client, TJackOutSlot& slot, TMidiOutCallback callback)
    : FClient(client), FSlot(slot), FQueue(std::move(callback)),
      FGeneration(slot.Generation.load()) {}

std::unique_ptr<TJackOutPort> TJackOutPort::Open(TJackClient& client,
                                                 const std::string& destination,
                                                 TMidiOutCallback callback, TMidiResult& result) {
  TJackOutSlot* slot = client.ClaimOutSlot();
  if (slot == nullptr) {
    result = MidiErrAllocated;
    return nullptr;
  }
  std::unique_ptr<TJackOutPort> port(new TJackOutPort(client, *slot, std::move(callback)));
  jack_port_t* own = client.RegisterPort(false);
  if (own == nullptr) {
    result = MidiErrNoMemory;
    return nullptr;
  }
  client.PublishOut(*slot, own);
  const int connected = jack_connect(client.Handle(), jack_port_name(own), destination.c_str());
  if (connected != 0 && connected != EEXIST) {
    result = MidiErrNoDevice;
    return nullptr;
  }
  client.WaitUntilConnected();
  port->FWriter = std::thread([p = port.get()] { p->Run(); });
  result = MidiOk;
  return port;
}

TJackOutPort::~TJackOutPort() {
  if (FWriter.joinable()) {
    FQueue.Reset();
    FQueue.Quit();
    FWriter.join();
  }
  FClient.ReleaseOut(FSlot);
  FQueue.CompleteRemaining();
}

TMidiResult TJackOutPort::ShortMsg(uint32_t packed) {
  return FClient.Alive() ? FQueue.PushShort(packed) : MidiErrNoDevice;
}

TMidiResult TJackOutPort::LongMsg(TMidiBuffer& buffer) {
  return FClient.Alive() ? FQueue.PushLong(buffer) : MidiErrNoDevice;
}

TMidiResult TJackOutPort::Reset() {
  FQueue.Reset();
  return MidiOk;
}

// Records of the old generation are skipped by the process callback, and their
// completion tags here, so a reset never completes a buffer twice.
void TJackOutPort::Cancel() {
  FGeneration = (FGeneration + 1) & GenerationMask;
  FSlot.Generation.store(FGeneration);
}

void TJackOutPort::CollectCompletions() {
  uint32_t tag = 0;
  while (jack_ringbuffer_read(FSlot.Done, reinterpret_cast<char*>(&tag), sizeof tag) ==
         sizeof tag)
    if ((tag >> 1) == FGeneration)
      FQueue.CompleteOldest();
}

void TJackOutPort::FillRing() {
  TOrderedOutput::TPiece piece;
  while (FQueue.NextPiece(PieceBytes, piece)) {
    const uint32_t header[2] = {piece.Count, JackTag(FGeneration, piece.EndsBuffer)};
    if (jack_ringbuffer_write_space(FSlot.Ring) < sizeof header + piece.Count)
      return;
    jack_ringbuffer_write(FSlot.Ring, reinterpret_cast<const char*>(header), sizeof header);
    jack_ringbuffer_write(FSlot.Ring, reinterpret_cast<const char*>(piece.Data), piece.Count);
    FQueue.PieceSent(piece);
  }
}

void TJackOutPort::Run() {
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset()) {
      Cancel();
      continue;
    }
    if (!FClient.Alive()) {
      // No server to write to: what is queued completes unsent rather than never.
      FQueue.CompleteRemaining();
      FQueue.Wait(IdleWait, true);
      continue;
    }
    CollectCompletions();
    FillRing();
    const bool busy = FQueue.WrittenCount() > 0 || jack_ringbuffer_read_space(FSlot.Ring) > 0;
    FQueue.Wait(busy ? BusyPoll : IdleWait, !busy);
  }
}

} // namespace pelrow
