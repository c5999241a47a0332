// The MIDI output device.
#include "midi/midi_output.h"

#include "support/hex_digits.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace pelrow {

namespace {
constexpr const char* TypeName = "MIDI Out";
constexpr const char* TextCannotOpen = "Cannot open MIDI output device \"%s\":";
constexpr const char* TextMidiMapper = "MIDI Mapper";
constexpr int32_t ChunkBytes = 1000;
constexpr int32_t MaxPendingBeforeChunk = 10;
// What a close waits for the port to write what it holds: a full queue of chunks
// at a MIDI cable's pace, with room to spare.
constexpr uint32_t CloseWriteLimitMs = 5000;

std::string HexBytes(const uint8_t* data, size_t count, bool spaced) {
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    if (spaced && i > 0)
      text.push_back(' ');
    AppendHexByte(data[i], text);
  }
  return text;
}
} // namespace

bool TMidiOutHdr::Prepare(TMidiOutPort* handle) {
  return handle != nullptr;
}

void TMidiOutHdr::Unprepare(TMidiOutPort*) {}

TMidiOutput::TMidiOutput(TMidiService& service) : TMidiOutputBase(service, true) {}

TMidiOutput::~TMidiOutput() {
  Close();
}

// The mapper stands for the first output device, as the system's default synth.
std::string TMidiOutput::GetDeviceName(int32_t index) {
  if (index == MidiMapper)
    return TextMidiMapper;
  std::string name;
  return FService.OutputName(index, name) == MidiOk ? name : std::string();
}

std::string TMidiOutput::GetTypeName() const {
  return TypeName;
}

int TMidiOutput::GetNumDevs() {
  return FService.OutputCount();
}

std::string TMidiOutput::GetErrorText(TMidiResult code) const {
  std::string text;
  return FService.OutErrorText(code, text) == MidiOk ? text : std::string();
}

void TMidiOutput::DoOpen() {
  const int32_t index = DeviceID() == MidiMapper ? 0 : DeviceID();
  const TMidiResult result = FService.OpenOutput(
      index, [this](TMidiBuffer& header) { LongDone(header); }, FHandle);
  if (FHandle == nullptr)
    throw EMidiOutputError(ErrorMessage(FormatText(TextCannotOpen, DeviceName()), result), result);
}

// The port writes what it holds first, for a while; resetting then completes
// every queued buffer through LongDone (what did not go out as failed) before the
// port goes.
void TMidiOutput::DoClose() {
  FHandle->WaitUntilWritten(CloseWriteLimitMs);
  FHandle->Reset();
  FFailedBytes.fetch_add(int64_t(FHandle->FailedShortBytes()));
  FHandle.reset();
}

// Destroying the port completes what it still holds, so nothing leaks.
void TMidiOutput::DoDiscard() {
  FFailedBytes.fetch_add(int64_t(FHandle->FailedShortBytes()));
  FHandle.reset();
}

bool TMidiOutput::SendShort(uint8_t status, uint8_t data1, uint8_t data2) {
  const bool sent = SendShortPacked(PackShortMessage(status, data1, data2));
  if (OnSendText) {
    const uint8_t bytes[3] = {status, data1, data2};
    OnSendText(*this, HexBytes(bytes, 3, true));
  }
  return sent;
}

bool TMidiOutput::SendShortPacked(uint32_t message) {
  return FHandle != nullptr && FHandle->ShortMsg(message) == MidiOk;
}

bool TMidiOutput::SendLong(const uint8_t* data, int32_t count) {
  if (!IsOpen() || count <= 0)
    return false;
  auto header = std::make_unique<TMidiOutHdr>(static_cast<uint32_t>(count));
  std::memcpy(header->Header.Data, data, static_cast<size_t>(count));
  header->Prepare(FHandle.get());
  // Counted before the service may complete it on its own thread.
  FPendingCount.fetch_add(1);
  const bool queued = FHandle->LongMsg(header->Header) == MidiOk;
  if (queued) {
    header.release(); // the service owns it until LongDone
  } else {
    // No completion will come for a refused buffer: take it back at once.
    FPendingCount.fetch_sub(1);
  }
  if (OnSendText)
    OnSendText(*this, HexBytes(data, static_cast<size_t>(count), false));
  return queued;
}

void TMidiOutput::LongDone(TMidiBuffer& header) {
  std::unique_ptr<TMidiOutHdr> done(&TMidiOutHdr::FromHeader(header));
  // Counted before the buffer stops being pending, so whoever sees nothing pending
  // also sees every failure.
  if ((header.Flags & MidiBufferFailed) != 0) {
    FFailedBytes.fetch_add(header.BufferLength -
                           std::min(header.BytesRecorded, header.BufferLength));
    FFailedBuffers.fetch_add(1);
  }
  done->Unprepare(nullptr);
  done.reset();
  int32_t pending = FPendingCount.load();
  while (!FPendingCount.compare_exchange_weak(pending, pending > 0 ? pending - 1 : 0)) {
  }
  // Taking the lock orders the change before a waiter's check of it.
  { std::lock_guard lock(FDoneMutex); }
  FDone.notify_all();
}

// Long buffers first, then the short messages queued behind them.
bool TMidiOutput::WaitUntilDelivered(uint32_t ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  {
    std::unique_lock lock(FDoneMutex);
    if (!FDone.wait_until(lock, limit, [this] { return FPendingCount.load() == 0; }))
      return false;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      limit - std::chrono::steady_clock::now());
  return FHandle == nullptr ||
         FHandle->WaitUntilWritten(uint32_t(std::max<int64_t>(left.count(), 0)));
}

int64_t TMidiOutput::FailedBytes() const {
  return FFailedBytes.load() + (FHandle ? int64_t(FHandle->FailedShortBytes()) : 0);
}

bool TMidiOutput::Flush() {
  return FHandle != nullptr && FHandle->Flush() == MidiOk;
}

uint32_t TMidiOutput::WholeMessageLimit() const {
  return FHandle != nullptr ? FHandle->WholeMessageLimit() : 0;
}

uint32_t TMidiOutput::Interruptions() const {
  return FHandle != nullptr ? FHandle->Interruptions() : 0;
}

int32_t TMidiOutput::SendLongChunked(const uint8_t* data, int32_t count,
                                     const TProgressEvent& progress) {
  int32_t total = 0;
  const auto proceed = [&] {
    bool carryOn = true;
    if (progress)
      progress(*this, carryOn);
    return carryOn;
  };
  while (count > 0) {
    while (PendingCount() > MaxPendingBeforeChunk) {
      if (!proceed())
        return total;
      if (!progress)
        std::this_thread::yield();
    }
    const int32_t piece = count < ChunkBytes ? count : ChunkBytes;
    // A refused piece is not handed over; the count must not claim it.
    if (!SendLong(data, piece))
      return total;
    data += piece;
    count -= piece;
    total += piece;
    if (count > 0 && !proceed())
      return total;
  }
  return total;
}

} // namespace pelrow
