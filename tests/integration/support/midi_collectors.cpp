// Test-side callers of the MIDI service.
#include "support/midi_collectors.h"

#include "midi/service/midi_input_stream.h"

#include <chrono>

namespace pelrow::testing {

std::vector<uint8_t> SysEx(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < length; ++i)
    bytes[i] = uint8_t((i * 7 + seed) & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

std::vector<uint8_t> SysExBurst(size_t messages, size_t lengthEach) {
  std::vector<uint8_t> bytes;
  bytes.reserve(messages * lengthEach);
  for (size_t m = 0; m < messages; ++m) {
    const auto one = SysEx(lengthEach, uint8_t(m));
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

std::string Difference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  if (got == want)
    return {};
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at])
    ++at;
  return "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
         ", first difference at byte " + std::to_string(at);
}

TInputCollector::TInputCollector() : FMemory(BufferCount, std::vector<uint8_t>(BufferBytes)) {
  FBuffers.resize(BufferCount);
  for (size_t i = 0; i < BufferCount; ++i) {
    FBuffers[i].Data = FMemory[i].data();
    FBuffers[i].BufferLength = BufferBytes;
  }
}

TMidiInCallback TInputCollector::Callback() {
  return [this](const TMidiInNotice& notice) { OnNotice(notice); };
}

void TInputCollector::Attach(TMidiInPort& port) {
  {
    std::lock_guard lock(FLock);
    FPort = &port;
  }
  for (auto& buffer : FBuffers)
    port.AddBuffer(buffer);
}

void TInputCollector::Detach() {
  std::lock_guard lock(FLock);
  FPort = nullptr;
}

void TInputCollector::OnNotice(const TMidiInNotice& notice) {
  std::lock_guard lock(FLock);
  switch (notice.Code) {
  case TMidiInCode::Data:
  case TMidiInCode::MoreData: {
    const int length = ShortMessageLength(uint8_t(notice.Message));
    for (int i = 0; i < length; ++i)
      FBytes.push_back(uint8_t(notice.Message >> (8 * i)));
    break;
  }
  case TMidiInCode::LongError:
    ++FLongErrors;
    [[fallthrough]];
  case TMidiInCode::LongData:
    FBytes.insert(FBytes.end(), notice.Buffer->Data,
                  notice.Buffer->Data + notice.Buffer->BytesRecorded);
    if (FPort != nullptr)
      FPort->AddBuffer(*notice.Buffer);
    break;
  case TMidiInCode::Overflow: ++FOverflows; break;
  default: break;
  }
  FArrived.notify_all();
}

std::vector<uint8_t> TInputCollector::WaitFor(size_t count, int timeoutMs) {
  std::unique_lock lock(FLock);
  FArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return FBytes.size() >= count; });
  return FBytes;
}

bool TInputCollector::AllHandedBack() {
  std::lock_guard lock(FLock);
  for (const TMidiBuffer& buffer : FBuffers)
    if (buffer.Flags & MidiBufferInQueue)
      return false;
  return true;
}

int TInputCollector::Overflows() {
  std::lock_guard lock(FLock);
  return FOverflows;
}

int TInputCollector::LongErrors() {
  std::lock_guard lock(FLock);
  return FLongErrors;
}

TMidiOutCallback TOutputSender::Callback() {
  return [this](TMidiBuffer&) {
    std::lock_guard lock(FLock);
    ++FCompleted;
    FDone.notify_all();
  };
}

TMidiResult TOutputSender::SendLong(TMidiOutPort& port, const std::vector<uint8_t>& bytes) {
  auto owned = std::make_unique<TOwned>();
  owned->Bytes = bytes;
  owned->Buffer.Data = owned->Bytes.data();
  owned->Buffer.BufferLength = uint32_t(owned->Bytes.size());
  TMidiBuffer& buffer = owned->Buffer;
  {
    std::lock_guard lock(FLock);
    FOwned.push_back(std::move(owned));
  }
  return port.LongMsg(buffer);
}

bool TOutputSender::WaitForCompletions(int timeoutMs) {
  std::unique_lock lock(FLock);
  return FDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return FCompleted == FOwned.size(); });
}

size_t TOutputSender::Completed() {
  std::lock_guard lock(FLock);
  return FCompleted;
}

size_t TOutputSender::Sent() {
  std::lock_guard lock(FLock);
  return FOwned.size();
}

} // namespace pelrow::testing
