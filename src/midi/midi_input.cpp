// The MIDI input device.
#include "midi/midi_input.h"

#include "support/trace.h"

#include <cstdio>
#include <new>
#include <stdexcept>

namespace pelrow {

namespace {
constexpr const char* TypeName = "MIDI In";
constexpr const char* TextCannotOpen = "Cannot open MIDI input device \"%s\":";
constexpr const char* TextOutOfMemory = "Out of memory.";
constexpr uint32_t ActiveSensingMessage = 0xFE;
constexpr uint32_t TimingClockMessage = 0xF8;

std::string HexCode(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", code & 0xFFFFu);
  return text;
}
} // namespace

bool TMidiInHdr::Prepare(TMidiInPort* handle) {
  if (!Prepared) {
    Header.Flags = 0;
    Prepared = true;
  }
  Header.BytesRecorded = 0;
  return handle != nullptr && handle->AddBuffer(Header) == MidiOk;
}

void TMidiInHdr::Unprepare(TMidiInPort*) {
  Prepared = false;
}

TMidiInput::TMidiInput(TMidiService& service, TUiPoster& poster)
    : TMidiInputBase(service, false), FPoster(poster) {}

TMidiInput::~TMidiInput() {
  Close();
}

std::string TMidiInput::GetDeviceName(int32_t index) {
  std::string name;
  return FService.InputName(index, name) == MidiOk ? name : std::string();
}

std::string TMidiInput::GetTypeName() const {
  return TypeName;
}

int TMidiInput::GetNumDevs() {
  return FService.InputCount();
}

std::string TMidiInput::GetErrorText(TMidiResult code) const {
  std::string text;
  return FService.InErrorText(code, text) == MidiOk ? text : std::string();
}

void TMidiInput::SetShortFilter(TShortFilter filter) {
  auto shared = filter ? std::make_shared<const TShortFilter>(std::move(filter)) : nullptr;
  std::lock_guard lock(FFilterLock);
  FHasShortFilter = shared != nullptr;
  // The old filter is freed by whoever drops the last reference, never under the lock.
  shared.swap(FShortFilter);
}

TMidiInput::TShortFilter TMidiInput::GetShortFilter() const {
  const auto filter = LoadShortFilter();
  return filter ? *filter : TShortFilter();
}

TMidiInput::TLongFilter TMidiInput::GetLongFilter() const {
  const auto filter = LoadLongFilter();
  return filter ? *filter : TLongFilter();
}

void TMidiInput::SetLongFilter(TLongFilter filter) {
  auto shared = filter ? std::make_shared<const TLongFilter>(std::move(filter)) : nullptr;
  std::lock_guard lock(FFilterLock);
  FHasLongFilter = shared != nullptr;
  shared.swap(FLongFilter);
}

std::shared_ptr<const TMidiInput::TShortFilter> TMidiInput::LoadShortFilter() const {
  std::lock_guard lock(FFilterLock);
  return FShortFilter;
}

std::shared_ptr<const TMidiInput::TLongFilter> TMidiInput::LoadLongFilter() const {
  std::lock_guard lock(FFilterLock);
  return FLongFilter;
}

void TMidiInput::Start() {
  if (!IsOpen())
    return;
  if (const TMidiResult result = FHandle->Start(); result != MidiOk)
    throw EMidiInputError(ErrorMessage("", result), result);
  FStarted = true;
}

void TMidiInput::Stop() {
  if (!IsOpen())
    return;
  FHandle->Stop();
  FStarted = false;
}

void TMidiInput::DoOpen() {
  try {
    if (FBuffer == nullptr)
      FBuffer = std::make_unique<TCircBuffer>(BufferCapacity);
  } catch (const std::bad_alloc&) {
    throw std::runtime_error(TextOutOfMemory);
  } catch (const std::length_error&) {
    throw std::runtime_error(TextOutOfMemory);
  }
  if (FNotifyWindow == nullptr) {
    FNotifyWindow = std::make_shared<TNotifyWindow>();
    FNotifyWindow->Owner = this;
  }
  FClosing = false;
  FDisconnected = false;
  FFailure = MidiOk;
  const TMidiResult result = FService.OpenInput(
      DeviceID(), [this](const TMidiInNotice& notice) { InputCallback(notice); }, FHandle);
  if (FHandle == nullptr)
    throw EMidiInputError(ErrorMessage(FormatText(TextCannotOpen, DeviceName()), result), result);
  FCallbackPort = FHandle.get();
  QueueHeaders();
}

void TMidiInput::QueueHeaders() {
  if (HeaderCount <= 0 || HeaderSize == 0 || FHandle == nullptr)
    return;
  ReleaseHeaders(FHandle.get());
  for (int32_t i = 0; i < HeaderCount; ++i) {
    auto header = std::make_unique<TMidiInHdr>(HeaderSize);
    header->Prepare(FHandle.get());
    FHeaderList.push_back(std::move(header));
  }
}

void TMidiInput::ReleaseHeaders(TMidiInPort* handle) {
  for (auto& header : FHeaderList)
    header->Unprepare(handle);
  FHeaderList.clear();
}

void TMidiInput::DoClose() {
  ShutDown(true);
}

void TMidiInput::DoDiscard() {
  ShutDown(false);
}

// Closing is raised first so that the buffers the service hands back on the way
// out are not stored. Closing the port waits for a running callback, so nothing
// touches the ring or the notice target once they are freed.
void TMidiInput::ShutDown(bool resetFirst) {
  FClosing = true;
  FStarted = false;
  if (resetFirst)
    FHandle->Reset();
  std::unique_ptr<TMidiInPort> handle = std::move(FHandle);
  if (!resetFirst)
    handle.reset();
  ReleaseHeaders(handle.get());
  handle.reset();
  FCallbackPort = nullptr;
  DrainBuffer();
  FNotifyWindow.reset();
  FBuffer.reset();
}

void TMidiInput::DrainBuffer() {
  if (FBuffer == nullptr)
    return;
  while (FBuffer->Peek() != nullptr)
    FBuffer->Drop();
}

void TMidiInput::InputCallback(const TMidiInNotice& notice) {
  if (FClosing || FBuffer == nullptr)
    return;
  switch (notice.Code) {
  case TMidiInCode::Open:
  case TMidiInCode::Close:
    return;
  case TMidiInCode::MoreData:
    Trace("MIM_MOREDATA");
    StoreShort(notice);
    return;
  case TMidiInCode::Error:
    Trace("MM_MIM_ERROR");
    StoreShort(notice);
    return;
  case TMidiInCode::Data:
    StoreShort(notice);
    return;
  case TMidiInCode::LongError:
    Trace("MIM_LONGERROR len=" + std::to_string(notice.Buffer->BytesRecorded));
    StoreLong(notice, true);
    return;
  case TMidiInCode::LongData:
    StoreLong(notice, false);
    return;
  case TMidiInCode::Disconnected:
    Trace("MIDI input disconnected from its source");
    FDisconnected = true;
    PostData();
    return;
  case TMidiInCode::Failed:
    // The device list follows: a failed port's device leaves it and is closed there.
    Trace("MIDI input failed: " + GetErrorText(notice.Message));
    FFailure = notice.Message;
    PostData();
    return;
  case TMidiInCode::Overflow:
    Trace(notice.Message > 0
              ? "MIDI service input lost: " + std::to_string(notice.Message) + " bytes"
              : std::string("MIDI service input overflow"));
    FBuffer->PutGap(notice.Timestamp, TInputGap::Lost, notice.Message);
    PostData();
    return;
  case TMidiInCode::Overrun:
    Trace("MIDI device input overran: " + std::to_string(notice.Message) + " bytes lost");
    FBuffer->PutGap(notice.Timestamp, TInputGap::Overrun, notice.Message);
    PostData();
    return;
  case TMidiInCode::Interrupted:
    Trace("MIDI service interrupted: input may be missing");
    FBuffer->PutGap(notice.Timestamp, TInputGap::MayBeLost, notice.Message, notice.Cut);
    PostData();
    return;
  }
  Trace("unhandled MIDI INPUT msg: 0x" + HexCode(static_cast<uint32_t>(notice.Code)));
}

int64_t TMidiInput::RunMs() const {
  return FHandle != nullptr ? FHandle->RunMs() : -1;
}

std::string TMidiInput::FailureText() const {
  const TMidiResult failure = FFailure.load();
  if (failure == MidiOk)
    return {};
  const std::string text = GetErrorText(failure);
  return text.empty() ? "error " + std::to_string(failure) : text;
}

void TMidiInput::StoreShort(const TMidiInNotice& notice) {
  const uint32_t message = notice.Message;
  if ((message == ActiveSensingMessage && !FActiveSensing) ||
      (message == TimingClockMessage && !FTimingClock) || FSysExOnly)
    return;
  if (notice.Code != TMidiInCode::MoreData && FHasShortFilter.load(std::memory_order_relaxed)) {
    if (const auto filter = LoadShortFilter()) {
      bool skip = false;
      (*filter)(*this, message, skip);
      if (skip)
        return;
    }
  }
  FBuffer->PutShort(notice.Timestamp, message);
  PostData();
}

// A buffer whose entry is not kept goes straight back to the service; otherwise
// sixteen such losses would stop SysEx input for good.
void TMidiInput::StoreLong(const TMidiInNotice& notice, bool damaged) {
  TMidiBuffer& header = *notice.Buffer;
  if (header.BytesRecorded == 0) {
    Requeue(header);
    return;
  }
  if (const auto filter =
          FHasLongFilter.load(std::memory_order_relaxed) ? LoadLongFilter() : nullptr) {
    bool skip = false;
    (*filter)(*this, header.Data, header.BytesRecorded, skip);
    if (skip) {
      Requeue(header);
      return;
    }
  }
  if (!FBuffer->PutLong(notice.Timestamp, &header, damaged))
    Requeue(header);
  PostData();
}

void TMidiInput::Requeue(TMidiBuffer& header) {
  TMidiInHdr::FromHeader(header).Prepare(FCallbackPort.load());
}

void TMidiInput::PostData() {
  TNotifyWindow& window = *FNotifyWindow;
  // One notice covers everything stored until its dispatch begins.
  if (window.Pending.exchange(true))
    return;
  FPoster.Post([target = std::weak_ptr<TNotifyWindow>(FNotifyWindow)] {
    if (const auto window = target.lock()) {
      window->Pending = false;
      window->Owner->DispatchReceived();
    }
  });
}

int32_t TMidiInput::EventCount() const {
  return IsOpen() && FBuffer != nullptr ? FBuffer->Count() : 0;
}

TMyMidiEvent* TMidiInput::TakeEvent(TCircEntry& entry) {
  if (entry.Message == 0)
    return nullptr;
  if (entry.Event != nullptr)
    return entry.Event.get();
  if (entry.Gap != TInputGap::None) {
    entry.Event = TMyMidiEvent::FromGap(entry.Gap, entry.LostBytes, entry.Timestamp);
    entry.Event->Damaged = entry.Damaged;
  } else if (entry.Header != nullptr) {
    entry.Event =
        TMyMidiEvent::FromLong(entry.Header->Data, entry.Header->BytesRecorded, entry.Timestamp);
    entry.Event->Damaged = entry.Damaged;
    Requeue(*entry.Header);
  } else {
    entry.Event = TMyMidiEvent::FromShort(entry.Message, entry.Timestamp);
  }
  return entry.Event.get();
}

std::unique_ptr<TMyMidiEvent> TMidiInput::GetEvent() {
  if (!IsOpen() || FBuffer == nullptr)
    return nullptr;
  for (;;) {
    TCircEntry* entry = FBuffer->Peek();
    if (entry == nullptr)
      return nullptr;
    std::unique_ptr<TMyMidiEvent> event;
    if (TakeEvent(*entry) != nullptr)
      event = std::move(entry->Event);
    FBuffer->Drop();
    if (event != nullptr)
      return event;
  }
}

void TMidiInput::DispatchReceived() {
  if (FBuffer != nullptr && FBuffer->TakeLossNotice() && OnOverflow && IsOpen())
    OnOverflow(*this);
  if (FDisconnected.exchange(false) && OnDisconnected && IsOpen())
    OnDisconnected(*this);
  if (EventCount() <= 0)
    return;
  int32_t lastWrite;
  do {
    // A handler may close the input; nothing more to hand out then.
    if (FBuffer == nullptr)
      return;
    lastWrite = FBuffer->WriteIndex();
    if (!OnLongMessage && !OnMidiData) {
      // Copy long data out so that the service never runs out of buffers while
      // nobody reads.
      FBuffer->ForEach([this](TCircEntry& entry) {
        if (entry.Header != nullptr)
          TakeEvent(entry);
      });
    }
    if (OnShortMessage || OnLongMessage)
      DispatchToHandlers();
    if (OnMidiData && EventCount() > 0)
      OnMidiData(*this);
  } while (FBuffer != nullptr && FBuffer->WriteIndex() != lastWrite);
}

void TMidiInput::DispatchToHandlers() {
  FBuffer->ForEach([this](TCircEntry& entry) {
    if (entry.Message == 0)
      return;
    if (entry.Gap != TInputGap::None) {
      // Only events carry gaps; the handlers learn of a loss through OnOverflow.
      if (!OnMidiData)
        entry.Message = 0;
    } else if (entry.Header != nullptr) {
      if (!OnLongMessage)
        return;
      // A cached event already holds the data and gave its buffer back.
      if (entry.Event != nullptr) {
        OnLongMessage(*this, entry.Event->Data.get(), static_cast<uint32_t>(entry.Event->Length));
        entry.Message = 0;
      } else {
        OnLongMessage(*this, entry.Header->Data, entry.Header->BytesRecorded);
        entry.Message = 0;
        Requeue(*entry.Header);
      }
    } else if (OnShortMessage) {
      OnShortMessage(*this, entry.Message);
      entry.Message = 0;
    }
  });
  FBuffer->DropConsumed();
}

} // namespace pelrow
