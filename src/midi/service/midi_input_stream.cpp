// Raw MIDI bytes to input callbacks, on the stream's own thread.
#include "midi/service/midi_input_stream.h"

#include "support/clock.h"
#include "support/trace.h"

#include <algorithm>
#include <cstring>

namespace pelrow {

namespace {
constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEnd = 0xF7;
constexpr uint8_t FirstRealTime = 0xF8;

bool IsStatus(uint8_t byte) {
  return byte >= 0x80;
}
} // namespace

TMidiInputStream::TMidiInputStream(TMidiInCallback callback, size_t limitBytes)
    : FCallback(std::move(callback)), FLimit(limitBytes) {
  FThread = std::thread([this] { Run(); });
}

TMidiInputStream::~TMidiInputStream() {
  Shutdown();
}

void TMidiInputStream::Shutdown() {
  if (!FThread.joinable())
    return;
  Reset();
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FQuit = true;
  }
  FWake.notify_one();
  FThread.join();
}

TMidiResult TMidiInputStream::Start() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FStarted) {
    FStartMs = TimeGetTime();
    FStarted = true;
  }
  return MidiOk;
}

TMidiResult TMidiInputStream::Stop() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (FQuit)
    return MidiErrInvalidHandle;
  FStarted = false;
  if (FRequest < TRequest::Stop)
    FRequest = TRequest::Stop;
  const uint64_t serial = ++FRequestSerial;
  FRequestPending = true;
  FWake.notify_one();
  FDone.wait(lock, [&] { return FDoneSerial >= serial; });
  return MidiOk;
}

TMidiResult TMidiInputStream::Reset() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (FQuit)
    return MidiErrInvalidHandle;
  FStarted = false;
  FRequest = TRequest::Reset;
  const uint64_t serial = ++FRequestSerial;
  FRequestPending = true;
  FWake.notify_one();
  FDone.wait(lock, [&] { return FDoneSerial >= serial; });
  return MidiOk;
}

TMidiResult TMidiInputStream::AddBuffer(TMidiBuffer& buffer) {
  if (buffer.Data == nullptr || buffer.BufferLength == 0)
    return MidiErrInvalidParam;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQuit)
      return MidiErrInvalidHandle;
    buffer.BytesRecorded = 0;
    buffer.Flags = (buffer.Flags & ~MidiBufferDone) | MidiBufferInQueue;
    FFree.push_back(&buffer);
  }
  FWake.notify_one();
  return MidiOk;
}

void TMidiInputStream::Feed(const uint8_t* data, size_t size) {
  Feed(data, size, TimeGetTime());
}

void TMidiInputStream::Feed(const uint8_t* data, size_t size, uint32_t nowMs) {
  if (size == 0)
    return;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FStarted || FQuit)
      return;
    const uint32_t timestamp = nowMs - FStartMs;
    if (FIncomingBytes + FBacklog + size > FLimit) {
      if (FRefusedBytes == 0)
        FRefusedTime = timestamp;
      FRefusedBytes += size;
      return;
    }
    EndRefusal();
    FIncomingBytes += size;
    while (size > 0) {
      TBlock& block = BlockWithRoom();
      if (block.Marks.empty() || block.Marks.back().Timestamp != timestamp ||
          block.Marks.back().Kind != TMarkKind::Time)
        block.Marks.push_back({block.Bytes.size(), timestamp});
      const size_t take = std::min(size, BlockBytes - block.Bytes.size());
      block.Bytes.insert(block.Bytes.end(), data, data + take);
      data += take;
      size -= take;
    }
  }
  FWake.notify_one();
}

void TMidiInputStream::FeedLost(uint32_t nowMs, uint64_t lostBytes) {
  PushMark({0, nowMs, TMarkKind::Lost, lostBytes});
}

void TMidiInputStream::FeedOverrun(uint32_t nowMs, uint64_t lostBytes) {
  PushMark({0, nowMs, TMarkKind::Overrun, lostBytes});
}

void TMidiInputStream::FeedInterrupted(uint32_t nowMs, uint32_t spanMs) {
  PushMark({0, nowMs, TMarkKind::Interrupted, 0, MidiOk, spanMs});
}

void TMidiInputStream::FeedDisconnected(uint32_t nowMs) {
  FeedFailed(MidiOk, nowMs);
}

void TMidiInputStream::FeedFailed(TMidiResult reason, uint32_t nowMs) {
  PushMark({0, nowMs, TMarkKind::Disconnected, 0, reason});
}

// mark's Timestamp is on TimeGetTime's clock; it is placed behind everything fed so far.
void TMidiInputStream::PushMark(const TMark& mark) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FStarted || FQuit)
      return;
    EndRefusal();
    TBlock& block = BlockWithRoom();
    block.Marks.push_back({block.Bytes.size(), mark.Timestamp - FStartMs, mark.Kind, mark.LostBytes,
                           mark.Failure, mark.SpanMs});
  }
  FWake.notify_one();
}

// Under the lock: the refused input is marked where it would have been, with its size.
void TMidiInputStream::EndRefusal() {
  if (FRefusedBytes == 0)
    return;
  TBlock& block = BlockWithRoom();
  block.Marks.push_back({block.Bytes.size(), FRefusedTime, TMarkKind::Lost, FRefusedBytes});
  FRefusedBytes = 0;
}

// The last block while it has room, else a new one (a spare when there is one).
TMidiInputStream::TBlock& TMidiInputStream::BlockWithRoom() {
  if (FIncoming.empty() || FIncoming.back().Bytes.size() >= BlockBytes) {
    if (!FSpare.empty()) {
      FIncoming.push_back(std::move(FSpare.back()));
      FSpare.pop_back();
    } else {
      FIncoming.emplace_back();
      FIncoming.back().Bytes.reserve(BlockBytes);
    }
  }
  return FIncoming.back();
}

// Under the lock: the oldest waiting block becomes the work; the work's storage
// goes back to the spares.
void TMidiInputStream::TakeNextBlock() {
  constexpr size_t SparesKept = 4;
  if (FSpare.size() < SparesKept && FWork.capacity() >= BlockBytes) {
    FSpare.push_back({std::move(FWork), std::move(FWorkMarks)});
    FSpare.back().Bytes.clear();
    FSpare.back().Marks.clear();
  }
  TBlock& next = FIncoming.front();
  FWork = std::move(next.Bytes);
  FWorkMarks = std::move(next.Marks);
  FIncoming.pop_front();
  FIncomingBytes -= FWork.size();
  FPos = 0;
  FMarkIndex = 0;
  FBacklog = FWork.size();
}

void TMidiInputStream::Run() {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    if (FRequest != TRequest::None) {
      HandleRequest(lock);
      continue;
    }
    if (FQuit)
      return;
    const bool haveWork = FPos < FWork.size() || FMarkIndex < FWorkMarks.size();
    if (haveWork && (!FBlocked || !FFree.empty())) {
      FBlocked = false;
      lock.unlock();
      ParseWork();
      lock.lock();
      FBacklog = FWork.size() - FPos;
      continue;
    }
    if (!haveWork && !FIncoming.empty()) {
      TakeNextBlock();
      continue;
    }
    // Everything was parsed: a loss is reported now rather than when more comes.
    if (!haveWork && FRefusedBytes > 0) {
      EndRefusal();
      continue;
    }
    if (!haveWork && FLossPending) {
      lock.unlock();
      FlushLoss();
      lock.lock();
      continue;
    }
    // The rest of a message cut by an interruption may trickle in for long; the
    // interruption is told once input has paused that long.
    if (!haveWork && FInterruption.Open && FInterruption.Near && !FInterruption.Told) {
      if (FWake.wait_until(lock, FInterruptionDeadline) == std::cv_status::timeout) {
        lock.unlock();
        TellInterruption();
        lock.lock();
      }
      continue;
    }
    FWake.wait(lock);
  }
}

// Delivers, as far as free buffers allow, what arrived before Stop; returns the
// bytes that could not be delivered.
uint64_t TMidiInputStream::DeliverBeforeStop(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (FPos >= FWork.size() && FMarkIndex >= FWorkMarks.size()) {
      if (FIncoming.empty())
        return 0;
      TakeNextBlock();
    }
    FBlocked = false;
    lock.unlock();
    ParseWork();
    lock.lock();
    if (FBlocked)
      return FWork.size() - FPos + FIncomingBytes + UnreachedLoss();
  }
}

// Under the lock: what the loss marks not yet reached count.
uint64_t TMidiInputStream::UnreachedLoss() const {
  uint64_t lost = 0;
  const auto add = [&](const std::vector<TMark>& marks, size_t from) {
    for (size_t i = from; i < marks.size(); ++i)
      lost += marks[i].Kind == TMarkKind::Lost || marks[i].Kind == TMarkKind::Overrun
                  ? marks[i].LostBytes
                  : 0;
  };
  add(FWorkMarks, FMarkIndex);
  for (const TBlock& block : FIncoming)
    add(block.Marks, 0);
  return lost;
}

void TMidiInputStream::HandleRequest(std::unique_lock<std::mutex>& lock) {
  const TRequest request = FRequest;
  const uint64_t serial = FRequestSerial;
  FRequest = TRequest::None;
  FRequestPending = false;
  // Stop hands on what had arrived before it; Reset discards it, as when a cable
  // is pulled.
  uint64_t undelivered = 0;
  if (request == TRequest::Stop)
    undelivered = DeliverBeforeStop(lock) + FRefusedBytes;
  FRefusedBytes = 0;
  FIncoming.clear();
  FIncomingBytes = 0;
  FWork.clear();
  FWorkMarks.clear();
  FPos = 0;
  FMarkIndex = 0;
  FBacklog = 0;
  FBlocked = false;
  std::deque<TMidiBuffer*> returned;
  if (request == TRequest::Reset)
    returned.swap(FFree);
  lock.unlock();

  if (FCurrent != nullptr && FCurrent->BytesRecorded == 0 && request == TRequest::Stop) {
    // An empty buffer stays queued across Stop.
    std::lock_guard<std::mutex> relock(FMutex);
    FFree.push_front(FCurrent);
    FCurrent = nullptr;
  }
  // A SysEx whose rest found no buffer is cut.
  if (FCurrent != nullptr)
    HandBack(FInSysEx && undelivered > 0 ? TMidiInCode::LongError : TMidiInCode::LongData);
  // No buffer was free for the rest: the caller learns how much it lost, together
  // with a loss the stream had not reported yet.
  if (undelivered > 0 && request == TRequest::Stop) {
    if (FLossOverrun)
      FlushLoss(); // a loss of another cause, told on its own
    if (!FLossPending)
      FLossTime = TimeGetTime() - FStartMs;
    FLossPending = true;
    FLossBytes += undelivered;
  }
  if (request == TRequest::Stop) {
    CloseInterruption();
    FlushLoss();
  }
  // The rest of a SysEx that Stop cut is skipped once input is taken again.
  const bool cut = FInSysEx;
  ClearParser();
  FSkipData = cut;
  for (TMidiBuffer* buffer : returned) {
    buffer->Flags = (buffer->Flags & ~MidiBufferInQueue) | MidiBufferDone;
    Notify(TMidiInCode::LongData, 0, buffer, 0);
  }

  lock.lock();
  FDoneSerial = serial;
  FDone.notify_all();
}

void TMidiInputStream::ClearParser() {
  FInterruption = TInterruption();
  FHaveInput = false;
  FMarkSinceInput = false;
  FShortOpen = false;
  FInSysEx = false;
  FSkipData = false;
  FSkippingLoss = false;
  FSkippingOverrun = false;
  FLossPending = false;
  FLossCounted = true;
  FLossOverrun = false;
  FLossBytes = 0;
  FStatus = 0;
  FCount = 0;
  FNeeded = 0;
}

uint32_t TMidiInputStream::TimestampAt(size_t offset) {
  // Marks are consumed in order; a loss, interruption or disconnection mark is
  // acted on when it is reached.
  uint32_t timestamp = FMarkIndex > 0 ? FWorkMarks[FMarkIndex - 1].Timestamp : 0;
  while (FMarkIndex < FWorkMarks.size() && FWorkMarks[FMarkIndex].Offset <= offset) {
    const TMark& mark = FWorkMarks[FMarkIndex++];
    timestamp = mark.Timestamp;
    ActOnMark(mark);
  }
  return timestamp;
}

void TMidiInputStream::ActOnMark(const TMark& mark) {
  switch (mark.Kind) {
  case TMarkKind::Time:
    return;
  case TMarkKind::Interrupted:
    OpenInterruption(mark);
    return;
  case TMarkKind::Lost:
  case TMarkKind::Overrun:
  case TMarkKind::Disconnected:
    break;
  }
  CloseInterruption();
  FShortOpen = false;
  // The message under way is cut here; what follows of it, up to the next status
  // byte, belongs to no message and is skipped. A loss of another cause before it
  // is told on its own, with its own count.
  const bool overrun = mark.Kind == TMarkKind::Overrun;
  if (mark.Kind == TMarkKind::Disconnected || FLossOverrun != overrun)
    FlushLoss();
  if (FInSysEx)
    EndSysEx(TMidiInCode::LongError);
  FStatus = 0;
  FCount = 0;
  FSkipData = true;
  FSkippingLoss = mark.Kind != TMarkKind::Disconnected;
  FSkippingOverrun = overrun;
  if (mark.Kind == TMarkKind::Disconnected) {
    Notify(mark.Failure != MidiOk ? TMidiInCode::Failed : TMidiInCode::Disconnected, mark.Failure,
           nullptr, mark.Timestamp);
    return;
  }
  if (!FLossPending) {
    FLossPending = true;
    FLossCounted = true;
    FLossBytes = 0;
    FLossTime = mark.Timestamp;
    FLossOverrun = overrun;
  }
  FLossBytes += mark.LostBytes;
  FLossCounted = FLossCounted && mark.LostBytes > 0;
}

void TMidiInputStream::OpenInterruption(const TMark& mark) {
  if (FInterruption.Open) {
    // No input since the last one: both are one interruption.
    FInterruption.End = mark.Timestamp;
    return;
  }
  // The rest of a lost or cut message is being skipped, and its loss told: that
  // covers this. So does a mark told with no input since.
  if (FSkipData || FMarkSinceInput)
    return;
  const uint32_t start = mark.Timestamp - mark.SpanMs;
  TInterruption next;
  next.Open = true;
  next.End = mark.Timestamp;
  next.Near = FInSysEx || FShortOpen ||
              (FHaveInput && int32_t(start - FLastInputMs) <= int32_t(NearInputMs));
  if (FInSysEx) {
    if (FCurrent != nullptr && FCurrent->BytesRecorded > 0)
      EndSysEx(TMidiInCode::LongError);
    else
      next.Cut = true; // its pieces are all out: the notice says it was cut
    FInSysEx = false;
  }
  if (FShortOpen)
    next.Skipped += uint64_t(FCount);
  FShortOpen = false;
  FStatus = 0;
  FCount = 0;
  FInterruption = next;
  FInterruptionDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(NearInputMs);
}

// Whether a byte after an open interruption is parsed as usual; data bytes before
// the next status byte (and an F7 there) belong to a message it cut, and are skipped.
bool TMidiInputStream::PassesInterruption(uint8_t byte, uint32_t timestamp) {
  TInterruption& interruption = FInterruption;
  if (!interruption.Near) {
    if (int32_t(timestamp - interruption.End) > int32_t(NearInputMs)) {
      Trace("MIDI input: an interruption while no input came is not marked");
      interruption = TInterruption();
      return true;
    }
    interruption.Near = true;
    FInterruptionDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(NearInputMs);
  }
  if (byte >= FirstRealTime)
    return true;
  if (!IsStatus(byte)) {
    ++interruption.Skipped;
    return false;
  }
  const bool endOfCut = byte == SysExEnd;
  interruption.Skipped += endOfCut ? 1 : 0;
  CloseInterruption();
  return !endOfCut;
}

void TMidiInputStream::TellInterruption() {
  TInterruption& interruption = FInterruption;
  if (interruption.Told && interruption.Skipped == 0)
    return;
  const auto skipped = uint32_t(std::min<uint64_t>(interruption.Skipped, UINT32_MAX));
  if (FCallback)
    FCallback(TMidiInNotice{TMidiInCode::Interrupted, skipped, nullptr, interruption.End,
                            interruption.Cut});
  interruption.Told = true;
  interruption.Skipped = 0;
  interruption.Cut = false;
  FMarkSinceInput = true;
}

// A near interruption is told; one that nothing came near is dropped.
void TMidiInputStream::CloseInterruption() {
  if (FInterruption.Open && FInterruption.Near)
    TellInterruption();
  FInterruption = TInterruption();
}

void TMidiInputStream::NoteInput(uint32_t timestamp) {
  FHaveInput = true;
  FLastInputMs = timestamp;
  FMarkSinceInput = false;
}

// A skipped byte of a lost message is lost too; after a loss was reported (the
// input paused), the rest of its message starts a loss of its own, of the same cause.
void TMidiInputStream::CountSkipped(uint32_t timestamp) {
  if (!FSkippingLoss)
    return;
  if (!FLossPending) {
    FLossPending = true;
    FLossCounted = true;
    FLossOverrun = FSkippingOverrun;
    FLossBytes = 0;
    FLossTime = timestamp;
  }
  ++FLossBytes;
}

// One Overflow (or Overrun) notice for a loss and the bytes skipped after it.
void TMidiInputStream::FlushLoss() {
  if (!FLossPending)
    return;
  FLossPending = false;
  const uint32_t lost = FLossCounted ? uint32_t(std::min<uint64_t>(FLossBytes, UINT32_MAX)) : 0;
  const TMidiInCode code = FLossOverrun ? TMidiInCode::Overrun : TMidiInCode::Overflow;
  FLossBytes = 0;
  FLossCounted = true;
  FMarkSinceInput = true;
  FLossOverrun = false;
  Notify(code, lost, nullptr, FLossTime);
}

void TMidiInputStream::ParseWork() {
  while (!FRequestPending.load(std::memory_order_relaxed)) {
    if (FPos >= FWork.size()) {
      TimestampAt(FWork.size()); // overflow marks at the very end
      FMarkIndex = FWorkMarks.size();
      return;
    }
    if (FInSysEx && !IsStatus(FWork[FPos])) {
      if (!ParseSysExRun())
        return;
      continue;
    }
    const uint32_t timestamp = TimestampAt(FPos);
    ParseByte(FWork[FPos], timestamp);
    if (FBlocked)
      return;
    ++FPos;
  }
}

// Copies a run of SysEx data bytes into the current buffer in one go. False when
// no buffer is free; the bytes then wait for one.
bool TMidiInputStream::ParseSysExRun() {
  const uint32_t timestamp = TimestampAt(FPos);
  if (!FInSysEx)
    return true; // an overflow mark ended the SysEx
  if (!AcquireBuffer(timestamp))
    return false;
  // The run stops at the buffer's end, the next status byte or the next time mark.
  const size_t space = FCurrent->BufferLength - FCurrent->BytesRecorded;
  size_t stop = std::min(FWork.size(), FPos + space);
  if (FMarkIndex < FWorkMarks.size())
    stop = std::min(stop, FWorkMarks[FMarkIndex].Offset);
  size_t end = FPos;
  while (end < stop && !IsStatus(FWork[end]))
    ++end;
  std::memcpy(FCurrent->Data + FCurrent->BytesRecorded, FWork.data() + FPos, end - FPos);
  FCurrent->BytesRecorded += static_cast<uint32_t>(end - FPos);
  if (end > FPos)
    NoteInput(timestamp);
  FPos = end;
  if (FCurrent->BytesRecorded == FCurrent->BufferLength)
    HandBack(TMidiInCode::LongData);
  return true;
}

void TMidiInputStream::ParseByte(uint8_t byte, uint32_t timestamp) {
  if (FInterruption.Open && !PassesInterruption(byte, timestamp))
    return;
  NoteInput(timestamp);
  if (byte >= FirstRealTime) {
    Notify(TMidiInCode::Data, byte, nullptr, timestamp);
    return;
  }
  if (IsStatus(byte))
    ParseStatus(byte, timestamp);
  else
    ParseData(byte, timestamp);
}

void TMidiInputStream::ParseStatus(uint8_t status, uint32_t timestamp) {
  FShortOpen = false;
  if (FSkipData) {
    FSkipData = false;
    if (status == SysExEnd) {
      // The end of the cut message: handed on, it would close a message that
      // lacks its middle.
      CountSkipped(timestamp);
      FSkippingLoss = false;
      FlushLoss();
      FStatus = 0;
      return;
    }
    FSkippingLoss = false;
    FlushLoss();
  }
  if (FInSysEx) {
    if (status == SysExEnd) {
      if (!AcquireBuffer(timestamp))
        return;
      FCurrent->Data[FCurrent->BytesRecorded++] = status;
      EndSysEx(TMidiInCode::LongData);
      return;
    }
    EndSysEx(TMidiInCode::LongError);
  }
  if (status == SysExStart) {
    FStatus = 0;
    FInSysEx = true;
    if (!AcquireBuffer(timestamp)) {
      FInSysEx = false; // retried from the same byte once a buffer is free
      return;
    }
    FCurrent->Data[FCurrent->BytesRecorded++] = status;
    if (FCurrent->BytesRecorded == FCurrent->BufferLength)
      HandBack(TMidiInCode::LongData);
    return;
  }
  if (status == SysExEnd) {
    FStatus = 0;
    Notify(TMidiInCode::Error, status, nullptr, timestamp);
    return;
  }
  const int length = ShortMessageLength(status);
  if (length == 1) {
    FStatus = 0;
    Notify(TMidiInCode::Data, status, nullptr, timestamp);
    return;
  }
  FStatus = status;
  FMessage[0] = status;
  FCount = 1;
  FNeeded = length;
  FShortOpen = true;
}

void TMidiInputStream::ParseData(uint8_t byte, uint32_t timestamp) {
  if (FSkipData) {
    CountSkipped(timestamp);
    return;
  }
  if (FStatus == 0) {
    Notify(TMidiInCode::Error, byte, nullptr, timestamp);
    return;
  }
  FMessage[FCount++] = byte;
  FShortOpen = FCount < FNeeded;
  if (FShortOpen)
    return;
  uint32_t packed = FMessage[0];
  for (int i = 1; i < FNeeded; ++i)
    packed |= uint32_t{FMessage[i]} << (8 * i);
  Notify(TMidiInCode::Data, packed, nullptr, timestamp);
  // Channel messages keep their status for running status; system common do not.
  FCount = 1;
  if (FStatus >= 0xF0)
    FStatus = 0;
}

bool TMidiInputStream::AcquireBuffer(uint32_t timestamp) {
  if (FCurrent != nullptr) {
    if (FCurrent->BytesRecorded == 0)
      FCurrentTimestamp = timestamp;
    return true;
  }
  std::lock_guard<std::mutex> lock(FMutex);
  if (FFree.empty()) {
    FBlocked = true;
    return false;
  }
  FCurrent = FFree.front();
  FFree.pop_front();
  FCurrent->BytesRecorded = 0;
  FCurrentTimestamp = timestamp;
  return true;
}

void TMidiInputStream::HandBack(TMidiInCode code) {
  TMidiBuffer* buffer = FCurrent;
  FCurrent = nullptr;
  buffer->Flags = (buffer->Flags & ~MidiBufferInQueue) | MidiBufferDone;
  Notify(code, 0, buffer, FCurrentTimestamp);
}

void TMidiInputStream::EndSysEx(TMidiInCode code) {
  FInSysEx = false;
  if (FCurrent != nullptr && (FCurrent->BytesRecorded > 0 || code == TMidiInCode::LongData))
    HandBack(code);
}

void TMidiInputStream::Notify(TMidiInCode code, uint32_t message, TMidiBuffer* buffer,
                              uint32_t timestamp) {
  if (FCallback)
    FCallback(TMidiInNotice{code, message, buffer, timestamp});
}

} // namespace pelrow
