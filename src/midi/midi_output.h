// The MIDI output device: short messages go out at once; long messages are copied
// into a buffer of their own, queued with the MIDI service and released by the
// completion callback on the service thread. Sends never raise; they report
// success as a Boolean.
#pragma once

#include "midi/midi_device.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace pelrow {

class TMidiOutput;

class TMidiOutHdr final : public TMidiHdrBase {
public:
  explicit TMidiOutHdr(uint32_t size) : TMidiHdrBase(size) {}
  static TMidiOutHdr& FromHeader(TMidiBuffer& header) {
    return *static_cast<TMidiOutHdr*>(header.User);
  }

  bool Prepare(TMidiOutPort* handle);
  void Unprepare(TMidiOutPort* handle);
};

class TMidiOutputBase : public TMidiDeviceBase {
public:
  // Called between pieces of a chunked send; clearing proceed stops it.
  using TProgressEvent = std::function<void(TMidiOutput& sender, bool& proceed)>;

  virtual bool SendShort(uint8_t status, uint8_t data1, uint8_t data2) = 0;
  virtual bool SendShortPacked(uint32_t message) = 0;
  virtual bool SendLong(const uint8_t* data, int32_t count) = 0;
  // Hands data over in pieces of 1000 bytes, with at most 11 long buffers queued;
  // returns the bytes handed over.
  virtual int32_t SendLongChunked(const uint8_t* data, int32_t count,
                                  const TProgressEvent& progress) = 0;

  // Long buffers the device took but then could not deliver (the backend
  // completed them marked failed), and their bytes that did not go out, since the
  // device was made.
  virtual int32_t FailedBuffers() const = 0;
  virtual int64_t FailedBytes() const = 0;
  // Blocks for at most ms until every long buffer handed over has completed and
  // every short message has been written; true when nothing is outstanding.
  virtual bool WaitUntilDelivered(uint32_t ms) = 0;

  // What the open port says of itself (see TMidiOutPort); a closed device holds
  // nothing back, takes pieces and reports no interruptions.
  virtual bool Flush() { return true; }
  virtual uint32_t WholeMessageLimit() const { return 0; }
  virtual uint32_t Interruptions() const { return 0; }

protected:
  using TMidiDeviceBase::TMidiDeviceBase;
};

class TMidiOutput final : public TMidiOutputBase {
public:
  using TSendTextEvent = std::function<void(TMidiOutput& sender, const std::string& text)>;

  explicit TMidiOutput(TMidiService& service);
  ~TMidiOutput() override;

  std::string GetDeviceName(int32_t index) override;
  int GetDirection() const override { return MidiOutputDirection; }
  std::string GetTypeName() const override;
  bool IsOpen() const override { return FHandle != nullptr; }
  int GetNumDevs() override;

  bool SendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
  bool SendShortPacked(uint32_t message) override;
  bool SendLong(const uint8_t* data, int32_t count) override;
  int32_t SendLongChunked(const uint8_t* data, int32_t count,
                          const TProgressEvent& progress) override;

  // Long buffers handed to the service whose completion has not come yet.
  int32_t PendingCount() const { return FPendingCount.load(); }
  int32_t FailedBuffers() const override { return FFailedBuffers.load(); }
  // Short messages the port could not send count too.
  int64_t FailedBytes() const override;
  bool WaitUntilDelivered(uint32_t ms) override;
  bool Flush() override;
  uint32_t WholeMessageLimit() const override;
  uint32_t Interruptions() const override;

  // The sent bytes as hexadecimal text, after each send.
  TSendTextEvent OnSendText;

private:
  void DoOpen() override;
  void DoClose() override;
  void DoDiscard() override;
  std::string GetErrorText(TMidiResult code) const override;
  void LongDone(TMidiBuffer& header);

  // Completions come on the backend's thread.
  std::atomic<int32_t> FPendingCount{0};
  std::atomic<int32_t> FFailedBuffers{0};
  std::atomic<int64_t> FFailedBytes{0};
  std::mutex FDoneMutex;
  std::condition_variable FDone;
  // Last: destroying the port completes what it holds through LongDone.
  std::unique_ptr<TMidiOutPort> FHandle;
};

} // namespace pelrow
