// Opening, feeding and closing a JACK MIDI output.
#include "midi/service/jack/jack_output.h"

#include "support/trace.h"

#include <algorithm>
#include <cerrno>

namespace pelrow {

namespace {
// While data is in the ring the writer looks for completions and room this often;
// a period of the usual server settings is a few milliseconds.
constexpr auto BusyPoll = std::chrono::microseconds(1000);
constexpr auto IdleWait = std::chrono::microseconds(100'000);
constexpr uint32_t GenerationMask = 0x7FFFFFFF;
constexpr size_t RecordHeaderBytes = 2 * sizeof(uint32_t);
// Before the port's first period has told its maximum event size.
constexpr uint32_t DefaultMaxEvent = 1024;
} // namespace

TJackOutPort::TJackOutPort(TJackClientPtr client, TJackOutSlot& slot, TMidiOutCallback callback)
    : TOrderedOutPort(std::move(callback)), FClient(std::move(client)), FSlot(slot),
      FGeneration(slot.Generation.load()) {}

std::unique_ptr<TJackOutPort> TJackOutPort::Open(const TJackClientPtr& client,
                                                 const std::string& destination,
                                                 TMidiOutCallback callback, TMidiResult& result) {
  TJackOutSlot* slot = client->ClaimOutSlot();
  if (slot == nullptr) {
    result = MidiErrAllocated;
    return nullptr;
  }
  std::unique_ptr<TJackOutPort> port(new TJackOutPort(client, *slot, std::move(callback)));
  jack_port_t* own = client->RegisterPort(false);
  if (own == nullptr) {
    result = client->Usable() ? JackErrPortRefused : client->Failure();
    return nullptr;
  }
  client->PublishOut(*slot, own);
  const int connected = client->Connect(client->PortName(own), destination);
  if (connected != 0 && connected != EEXIST) {
    result = client->ConnectFailure(destination);
    return nullptr;
  }
  client->SetPeer(*slot, destination);
  client->WaitUntilConnected();
  port->FWriter = std::thread([p = port.get()] { p->Run(); });
  result = MidiOk;
  return port;
}

TJackOutPort::~TJackOutPort() {
  if (FWriter.joinable()) {
    FQueue.Reset();
    FQueue.Quit();
    FWriter.join();
    WaitUntilWritten();
  }
  FClient->ReleaseOut(FSlot);
  FQueue.CompleteRemaining();
}

// A send that cannot reach anybody fails: the server is gone or frozen, or the
// connection was removed from outside (and is not yet back, carrying data).
TMidiResult TJackOutPort::Refusal() const {
  if (!FClient->Usable())
    return FClient->Failure();
  jack_port_t* port = FSlot.Port.load();
  return port != nullptr && !FSlot.Disconnected.load() && FClient->PortConnections(port) > 0
             ? MidiOk
             : MidiErrNoDevice;
}

TMidiResult TJackOutPort::ShortMsg(uint32_t packed) {
  const TMidiResult refusal = Refusal();
  return refusal == MidiOk ? FQueue.PushShort(packed) : refusal;
}

TMidiResult TJackOutPort::LongMsg(TMidiBuffer& buffer) {
  const TMidiResult refusal = Refusal();
  return refusal == MidiOk ? FQueue.PushLong(buffer) : refusal;
}

TMidiResult TJackOutPort::Flush() {
  const TMidiResult refusal = Refusal();
  return refusal == MidiOk ? FQueue.PushFlush() : refusal;
}

// Records of the old generation are skipped by the process callback, and their
// completion tags here, so a reset never completes a buffer twice. What is held
// back came from buffers that have completed (their sender counts them as sent),
// so it goes out in the new generation.
void TJackOutPort::Cancel() {
  FGeneration = (FGeneration + 1) & GenerationMask;
  FSlot.Generation.store(FGeneration);
  const auto limit = std::chrono::steady_clock::now() + TJackClient::ServerCallLimit;
  const size_t held = FSysEx.size() + 3 + 2 * RecordHeaderBytes;
  while (jack_ringbuffer_write_space(FSlot.Ring) < held && FClient->Usable() &&
         std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(BusyPoll);
  WriteHeld();
}

// Before the port goes, the last events get the cycles that carry them out.
void TJackOutPort::WaitUntilWritten() {
  const auto limit = std::chrono::steady_clock::now() + TJackClient::ServerCallLimit;
  while (jack_ringbuffer_read_space(FSlot.Ring) > 0 && FClient->Usable() &&
         std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(BusyPoll);
  FClient->WaitUntilConnected();
}

// A SysEx event must fit the ring with room to spare for what follows it.
uint32_t TJackOutPort::MaxEventBytes() const {
  const uint32_t told = FSlot.MaxEventSize.load(std::memory_order_relaxed);
  return std::min<uint32_t>(told ? told : DefaultMaxEvent, TJackClient::OutRingBytes / 4);
}

void TJackOutPort::CollectCompletions(uint32_t generation) {
  uint32_t tag = 0;
  while (jack_ringbuffer_read(FSlot.Done, reinterpret_cast<char*>(&tag), sizeof tag) == sizeof tag)
    if ((tag >> 1) == generation)
      FQueue.CompleteOldest();
}

// The server stopped answering, or the port lost its connection: nothing still on
// its way will arrive. What the process callback wrote before completes as sent;
// the rest is cancelled and completes as failed, so the sender can count it.
void TJackOutPort::FailInFlight() {
  if (FQueue.WrittenCount() > 0 || jack_ringbuffer_read_space(FSlot.Ring) > 0) {
    const uint32_t old = FGeneration;
    Cancel();
    FClient->WaitForCycleEnd();
    CollectCompletions(old);
  }
  FQueue.CompleteRemaining(true);
}

void TJackOutPort::FillRing() {
  // The most one piece can put into the ring: an event of three bytes for every
  // two bytes (running status expanded), plus the SysEx joined so far.
  const size_t worst =
      size_t(PieceBytes) * (RecordHeaderBytes + 3) + MaxEventBytes() + 2 * RecordHeaderBytes;
  TOrderedOutput::TPiece piece;
  while (FQueue.NextPiece(PieceBytes, piece)) {
    if (jack_ringbuffer_write_space(FSlot.Ring) < worst)
      return;
    FSplitter.Split(piece.Data, piece.Count, [this](const TMidiPart& part) { WritePart(part); });
    // An empty record carries the completion behind everything written before it.
    if (piece.EndsBuffer)
      WriteRecord(nullptr, 0, true);
    if (piece.Flush)
      WriteHeld();
    FQueue.PieceSent(piece);
  }
}

void TJackOutPort::WritePart(const TMidiPart& part) {
  switch (part.Kind) {
  case TMidiPartKind::Short:
  case TMidiPartKind::Incomplete: // it starts with its status byte: sent as it came
    WriteRecord(part.Data, uint32_t(part.Count), false);
    return;
  case TMidiPartKind::Stray:
    // A JACK reader drops an event that starts with a data byte; such bytes have no
    // place on this transport.
    FStrayBytes += part.Count;
    Trace("JACK: " + std::to_string(part.Count) +
          " bytes that form no MIDI message were not sent (" + std::to_string(FStrayBytes) +
          " on this port so far)");
    return;
  case TMidiPartKind::SysEx: {
    const size_t limit = MaxEventBytes();
    const uint8_t* data = part.Data;
    size_t left = part.Count;
    while (left > 0) {
      const size_t take = std::min(left, limit - std::min(limit, FSysEx.size()));
      FSysEx.insert(FSysEx.end(), data, data + take);
      data += take;
      left -= take;
      if (FSysEx.size() >= limit) {
        WriteRecord(FSysEx.data(), uint32_t(FSysEx.size()), false);
        FSysEx.clear();
      }
    }
    if (part.Ends && !FSysEx.empty()) {
      WriteRecord(FSysEx.data(), uint32_t(FSysEx.size()), false);
      FSysEx.clear();
    }
    return;
  }
  }
}

// The caller has made sure the ring has room.
bool TJackOutPort::WriteRecord(const uint8_t* data, uint32_t count, bool endsBuffer) {
  const uint32_t header[2] = {count, JackTag(FGeneration, endsBuffer)};
  if (jack_ringbuffer_write_space(FSlot.Ring) < sizeof header + count)
    return false;
  jack_ringbuffer_write(FSlot.Ring, reinterpret_cast<const char*>(header), sizeof header);
  if (count > 0)
    jack_ringbuffer_write(FSlot.Ring, reinterpret_cast<const char*>(data), count);
  return true;
}

// A SysEx without its end and a short message missing data bytes go out as they
// are. The message counts as over, so later data bytes never start an event.
void TJackOutPort::WriteHeld() {
  FSplitter.Flush([this](const TMidiPart& part) { WritePart(part); });
  if (!FSysEx.empty() && WriteRecord(FSysEx.data(), uint32_t(FSysEx.size()), false))
    Trace("JACK: a SysEx without its end was sent as it came (" + std::to_string(FSysEx.size()) +
          " bytes)");
  FSysEx.clear();
  FSplitter.Reset();
}

void TJackOutPort::Run() {
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset()) {
      Cancel();
      continue;
    }
    if (!FClient->Usable() || FSlot.Disconnected.load()) {
      // Nobody to write to: what is queued completes unsent rather than never.
      FailInFlight();
      FQueue.Wait(IdleWait, true);
      continue;
    }
    CollectCompletions(FGeneration);
    FillRing();
    const bool busy = FQueue.WrittenCount() > 0 || jack_ringbuffer_read_space(FSlot.Ring) > 0;
    FQueue.Wait(busy ? BusyPoll : IdleWait, !busy);
  }
}

} // namespace pelrow
