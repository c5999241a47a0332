// Test-side callers of the MIDI service.
#include "support/midi_collectors.h"

#include "app/line_formatter.h"
#include "midi/service/midi_input_stream.h"

#include <algorithm>
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

std::vector<uint8_t> MixedDump(size_t size) {
  std::vector<uint8_t> bytes;
  for (size_t m = 0; bytes.size() < size; ++m) {
    const auto one = SysEx(2 + (m * 389) % 3000, uint8_t(m));
    bytes.insert(bytes.end(), one.begin(), one.end());
    if (m % 16 == 0)
      bytes.insert(bytes.end(), {0x90, uint8_t(m & 0x7F), 0x40});
  }
  return bytes;
}

std::vector<std::vector<uint8_t>> Lines(const std::vector<uint8_t>& bytes, size_t length) {
  std::vector<std::vector<uint8_t>> lines;
  for (size_t at = 0; at < bytes.size(); at += length)
    lines.emplace_back(bytes.begin() + long(at),
                       bytes.begin() + long(std::min(bytes.size(), at + length)));
  return lines;
}

std::vector<uint8_t> TaggedSysEx(uint32_t number, size_t length) {
  std::vector<uint8_t> bytes(length);
  bytes[0] = 0xF0;
  bytes[1] = 0x7D;
  bytes[2] = uint8_t(number >> 14 & 0x7F);
  bytes[3] = uint8_t(number >> 7 & 0x7F);
  bytes[4] = uint8_t(number & 0x7F);
  uint32_t sum = 0x7D + bytes[2] + bytes[3] + bytes[4];
  for (size_t i = 5; i + 2 < length; ++i) {
    bytes[i] = uint8_t((number * 31 + i * 7) & 0x7F);
    sum += bytes[i];
  }
  bytes[length - 2] = uint8_t(sum & 0x7F);
  bytes[length - 1] = 0xF7;
  return bytes;
}

std::vector<uint8_t> TaggedBurst(uint32_t firstNumber, size_t messages, size_t lengthEach) {
  std::vector<uint8_t> bytes;
  bytes.reserve(messages * lengthEach);
  for (size_t m = 0; m < messages; ++m) {
    const auto one = TaggedSysEx(firstNumber + uint32_t(m), lengthEach);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

TTaggedCheck CheckTagged(const std::vector<uint8_t>& bytes, const std::vector<size_t>& losses) {
  TTaggedCheck check;
  const auto problem = [&](const std::string& text, size_t at) {
    if (check.Problem.empty())
      check.Problem = text + " at byte " + std::to_string(at);
  };
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes[at] != 0xF0) {
      problem("a message does not start with F0", at);
      return check;
    }
    size_t end = at + 1;
    while (end < bytes.size() && bytes[end] < 0x80)
      ++end;
    if (end == bytes.size() || bytes[end] != 0xF7) {
      // Cut short: allowed only where a loss was reported.
      if (std::find(losses.begin(), losses.end(), end) == losses.end())
        problem("a message was cut where no loss was reported", end);
      ++check.Cut;
      at = end;
      continue;
    }
    const size_t length = end + 1 - at;
    uint32_t sum = 0;
    for (size_t i = at + 1; i + 2 < at + length; ++i)
      sum += bytes[i];
    const uint32_t number =
        uint32_t(bytes[at + 2]) << 14 | uint32_t(bytes[at + 3]) << 7 | bytes[at + 4];
    if (length < 7 || (sum & 0x7F) != bytes[end - 1] ||
        TaggedSysEx(number, length) !=
            std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(at),
                                 bytes.begin() + std::ptrdiff_t(end + 1)))
      problem("a message is spliced or changed", at);
    else if (check.Whole > 0 && number <= check.LastNumber)
      problem("a message came out of order", at);
    else {
      ++check.Whole;
      check.LastNumber = number;
    }
    at = end + 1;
  }
  return check;
}

std::vector<uint8_t> TaggedDump(size_t messages) {
  std::vector<uint8_t> bytes;
  for (uint32_t m = 0; m < messages; ++m) {
    const auto one = TaggedSysEx(m, m % 1000 == 500 ? 100000 : 1000 + (m * 389) % 3000);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

std::vector<size_t> TMarkedBytes::AllMarks() const {
  std::vector<size_t> marks = LossOffsets;
  marks.insert(marks.end(), CutOffsets.begin(), CutOffsets.end());
  marks.insert(marks.end(), MayBeLostOffsets.begin(), MayBeLostOffsets.end());
  return marks;
}

TMarkedBytes ReadMarkedLines(const std::vector<std::string>& lines) {
  TMarkedBytes read;
  for (const std::string& line : lines) {
    switch (MarkLineKind(line)) {
    case TMarkLine::Certain:
      (line == CutMarkLine ? read.CutOffsets : read.LossOffsets).push_back(read.Bytes.size());
      continue;
    case TMarkLine::Possible:
      read.MayBeLostOffsets.push_back(read.Bytes.size());
      continue;
    case TMarkLine::None:
      break;
    }
    for (size_t at = 0; at + 1 < line.size() && line[at] != ';'; at += 3)
      read.Bytes.push_back(uint8_t(std::stoi(line.substr(at, 2), nullptr, 16)));
  }
  return read;
}

long FirstUnmarkedGap(const std::vector<uint8_t>& bytes, std::vector<size_t> marks,
                      uint32_t count) {
  std::sort(marks.begin(), marks.end());
  const auto markedWithin = [&](size_t from, size_t to) {
    const auto mark = std::lower_bound(marks.begin(), marks.end(), from);
    return mark != marks.end() && *mark <= to;
  };
  uint32_t expected = 0; // the next message that is not yet whole
  size_t sinceWhole = 0; // where the stream went on after the last whole message
  for (size_t at = 0; at < bytes.size();) {
    size_t end = at + 1;
    while (end < bytes.size() && bytes[end] < 0x80)
      ++end;
    const bool whole = end < bytes.size() && bytes[end] == 0xF7 && end - at >= 6;
    if (whole) {
      const uint32_t number =
          uint32_t(bytes[at + 2]) << 14 | uint32_t(bytes[at + 3]) << 7 | bytes[at + 4];
      if (number != expected && !markedWithin(sinceWhole, at))
        return long(expected);
      expected = number + 1;
      sinceWhole = end + 1;
    }
    at = whole ? end + 1 : std::max(end, at + 1);
  }
  return expected < count && !markedWithin(sinceWhole, bytes.size()) ? long(expected) : -1;
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

namespace {
// The messages of a byte stream: each status byte but F7 and real-time bytes starts one.
std::vector<std::vector<uint8_t>> Messages(const std::vector<uint8_t>& bytes) {
  std::vector<std::vector<uint8_t>> messages;
  for (const uint8_t byte : bytes) {
    if (messages.empty() || (byte >= 0x80 && byte != 0xF7 && byte < 0xF8))
      messages.emplace_back();
    messages.back().push_back(byte);
  }
  return messages;
}
} // namespace

std::string DifferenceBesideCuts(const std::vector<uint8_t>& got,
                                 const std::vector<uint8_t>& want, bool interrupted) {
  if (!interrupted || got == want)
    return Difference(got, want);
  const auto gotMessages = Messages(got), wantMessages = Messages(want);
  if (gotMessages.size() != wantMessages.size())
    return Difference(got, want) + " (messages: got " + std::to_string(gotMessages.size()) +
           ", want " + std::to_string(wantMessages.size()) + ")";
  for (size_t i = 0; i < gotMessages.size(); ++i) {
    const auto& one = gotMessages[i];
    const auto& whole = wantMessages[i];
    const bool cut = one.size() < whole.size() && whole[0] == 0xF0 && one.back() != 0xF7 &&
                     std::equal(one.begin(), one.end(), whole.begin());
    if (one != whole && !cut)
      return "message " + std::to_string(i) + " is neither whole nor cut short";
  }
  return {};
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
    if (FStalled)
      FHeld.push_back(notice.Buffer);
    else if (FPort != nullptr)
      FPort->AddBuffer(*notice.Buffer);
    break;
  case TMidiInCode::Disconnected:
    ++FDisconnects;
    break;
  case TMidiInCode::Interrupted:
    FInterruptOffsets.push_back(FBytes.size());
    break;
  case TMidiInCode::Failed:
    FFailure = notice.Message;
    break;
  case TMidiInCode::Overflow:
  case TMidiInCode::Overrun:
    ++FOverflows;
    FLossOffsets.push_back(FBytes.size());
    FLostBytes += notice.Message;
    break;
  default:
    break;
  }
  FArrived.notify_all();
}

TMidiResult TInputCollector::Failure() {
  std::lock_guard lock(FLock);
  return FFailure;
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

std::vector<size_t> TInputCollector::LossOffsets() {
  std::lock_guard lock(FLock);
  return FLossOffsets;
}

std::vector<size_t> TInputCollector::InterruptOffsets() {
  std::lock_guard lock(FLock);
  return FInterruptOffsets;
}

uint64_t TInputCollector::LostBytes() {
  std::lock_guard lock(FLock);
  return FLostBytes;
}

void TInputCollector::Stall(bool stalled) {
  std::vector<TMidiBuffer*> held;
  TMidiInPort* port = nullptr;
  {
    std::lock_guard lock(FLock);
    FStalled = stalled;
    if (!stalled)
      held.swap(FHeld);
    port = FPort;
  }
  if (port != nullptr)
    for (TMidiBuffer* buffer : held)
      port->AddBuffer(*buffer);
}

int TInputCollector::Disconnects() {
  std::lock_guard lock(FLock);
  return FDisconnects;
}

int TInputCollector::LongErrors() {
  std::lock_guard lock(FLock);
  return FLongErrors;
}

TMidiOutCallback TOutputSender::Callback() {
  return [this](TMidiBuffer& done) {
    std::lock_guard lock(FLock);
    ++FCompleted;
    ((done.Flags & MidiBufferFailed) ? FFailedBytes : FDeliveredBytes) += done.BufferLength;
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

uint64_t TOutputSender::DeliveredBytes() {
  std::lock_guard lock(FLock);
  return FDeliveredBytes;
}

uint64_t TOutputSender::FailedBytes() {
  std::lock_guard lock(FLock);
  return FFailedBytes;
}

size_t TOutputSender::Sent() {
  std::lock_guard lock(FLock);
  return FOwned.size();
}

} // namespace pelrow::testing
