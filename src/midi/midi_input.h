// The MIDI input device. The MIDI service thread filters what arrives and stores it
// in the receive ring; a notice posted to the UI thread then hands the waiting data
// out there as TMyMidiEvent records. Sixteen long buffers of 1024 bytes circulate
// between the device and the service: each goes back to the service as soon as its
// data has been copied out, or at once when its entry cannot be kept.
#pragma once

#include "midi/circ_buffer.h"
#include "midi/midi_device.h"
#include "support/clock.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pelrow {

class TMidiInput;

class TMidiInHdr final : public TMidiHdrBase {
public:
  explicit TMidiInHdr(uint32_t size) : TMidiHdrBase(size) {}
  static TMidiInHdr& FromHeader(TMidiBuffer& header) {
    return *static_cast<TMidiInHdr*>(header.User);
  }

  // Queues (or re-queues) the buffer for recording; true when the service took it.
  bool Prepare(TMidiInPort* handle);
  void Unprepare(TMidiInPort* handle);

  bool Prepared = false;
};

class TMidiInputBase : public TMidiDeviceBase {
public:
  using TNotifyEvent = std::function<void(TMidiInput& sender)>;
  using TShortMessageEvent = std::function<void(TMidiInput& sender, uint32_t message)>;
  using TLongMessageEvent =
      std::function<void(TMidiInput& sender, const uint8_t* data, uint32_t length)>;
  using TShortFilter = std::function<void(TMidiInput& sender, uint32_t message, bool& skip)>;
  using TLongFilter =
      std::function<void(TMidiInput& sender, const uint8_t* data, uint32_t length, bool& skip)>;

  // Input was lost since the last dispatch, in the service or in the buffer; the
  // events carry a gap at its place.
  TNotifyEvent OnOverflow;
  // Something outside the program removed the connection that fed the input: the
  // port stays open, but nothing arrives until it is connected again.
  TNotifyEvent OnDisconnected;
  TShortMessageEvent OnShortMessage;
  TLongMessageEvent OnLongMessage;

  virtual void SetShortFilter(TShortFilter filter) = 0;
  virtual TShortFilter GetShortFilter() const = 0;
  virtual TLongFilter GetLongFilter() const = 0;
  virtual void SetLongFilter(TLongFilter filter) = 0;
  virtual bool GetActiveSensing() const = 0;
  virtual bool GetTimingClock() const = 0;
  virtual void SetActiveSensing(bool value) = 0;
  virtual void SetTimingClock(bool value) = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual bool IsStarted() const = 0;

protected:
  using TMidiDeviceBase::TMidiDeviceBase;
};

class TMidiInput final : public TMidiInputBase {
public:
  // poster runs the data notice on the UI thread.
  TMidiInput(TMidiService& service, TUiPoster& poster);
  ~TMidiInput() override;

  std::string GetDeviceName(int32_t index) override;
  int GetDirection() const override { return MidiInputDirection; }
  std::string GetTypeName() const override;
  bool IsOpen() const override { return FHandle != nullptr; }
  int GetNumDevs() override;

  void SetShortFilter(TShortFilter filter) override;
  TShortFilter GetShortFilter() const override;
  TLongFilter GetLongFilter() const override;
  void SetLongFilter(TLongFilter filter) override;
  bool GetActiveSensing() const override { return FActiveSensing; }
  bool GetTimingClock() const override { return FTimingClock; }
  void SetActiveSensing(bool value) override { FActiveSensing = value; }
  void SetTimingClock(bool value) override { FTimingClock = value; }
  void Start() override;
  void Stop() override;
  bool IsStarted() const override { return FStarted; }

  bool GetSysExOnly() const { return FSysExOnly; }
  void SetSysExOnly(bool value) { FSysExOnly = value; }
  // Events waiting in the ring (0 while closed).
  int32_t EventCount() const;
  // The next waiting event, owned by the caller; none when the ring is empty.
  std::unique_ptr<TMyMidiEvent> GetEvent();
  // Hands the waiting data to the handlers; runs on the UI thread after each
  // data notice.
  void DispatchReceived();
  // Why the port failed for good (its MIDI system went away), as the service says
  // it; empty while the port works.
  std::string FailureText() const;
  // The open port's RunMs: how long its MIDI system has read input; -1 where it
  // always does, or while closed.
  int64_t RunMs() const;

  // Data is waiting; installed by the MIDI In menu.
  TNotifyEvent OnMidiData;

  int32_t BufferCapacity = 1024;
  uint32_t HeaderSize = 1024;
  int32_t HeaderCount = 16;

private:
  // The UI thread's end of the data notice. Posted work holds it weakly, so a
  // notice still queued when the input closes finds nobody and does nothing.
  struct TNotifyWindow {
    TMidiInput* Owner;
    std::atomic<bool> Pending{false};
  };

  void DoOpen() override;
  void DoClose() override;
  void DoDiscard() override;
  std::string GetErrorText(TMidiResult code) const override;

  std::shared_ptr<const TShortFilter> LoadShortFilter() const;
  std::shared_ptr<const TLongFilter> LoadLongFilter() const;
  void ShutDown(bool resetFirst);
  void QueueHeaders();
  void ReleaseHeaders(TMidiInPort* handle);
  void DrainBuffer();
  void InputCallback(const TMidiInNotice& notice);
  void StoreShort(const TMidiInNotice& notice);
  void StoreLong(const TMidiInNotice& notice, bool damaged);
  void Requeue(TMidiBuffer& header);
  void PostData();
  TMyMidiEvent* TakeEvent(TCircEntry& entry);
  void DispatchToHandlers();

  TUiPoster& FPoster;
  std::unique_ptr<TMidiInPort> FHandle;
  // The open port as the service thread sees it: FHandle itself changes on the UI
  // thread while a callback may still be finishing.
  std::atomic<TMidiInPort*> FCallbackPort{nullptr};
  bool FStarted = false;
  // Shared with the service thread.
  std::unique_ptr<TCircBuffer> FBuffer;
  std::shared_ptr<TNotifyWindow> FNotifyWindow;
  std::atomic<bool> FSysExOnly{false};
  std::atomic<bool> FActiveSensing{false};
  std::atomic<bool> FTimingClock{true};
  std::atomic<bool> FClosing{false};
  std::atomic<bool> FDisconnected{false};
  std::atomic<TMidiResult> FFailure{MidiOk};
  // The filters may change on the UI thread while the service thread runs one: each
  // side takes its own reference under the lock, so a filter replaced mid-call lives
  // until that call returns. The flags spare the service thread the lock when no
  // filter is installed, which is the usual case.
  std::atomic<bool> FHasShortFilter{false};
  std::atomic<bool> FHasLongFilter{false};
  mutable std::mutex FFilterLock;
  std::shared_ptr<const TShortFilter> FShortFilter; // guarded by FFilterLock
  std::shared_ptr<const TLongFilter> FLongFilter;   // guarded by FFilterLock
  std::vector<std::unique_ptr<TMidiInHdr>> FHeaderList;
};

} // namespace pelrow
