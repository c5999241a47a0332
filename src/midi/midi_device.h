// What the input and output devices share: the device choice by index, the open and
// close life cycle with its open-device lists and feedback-loop test, the device
// list for the menus, the long-buffer wrapper, and error messages built from the
// MIDI service's texts.
#pragma once

#include "midi/midi_records.h"
#include "midi/service/midi_service.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelrow {

struct TDeviceListEntry {
  std::string Name;
  int32_t Index;
};
using TDeviceList = std::vector<TDeviceListEntry>;

// The test that refuses to open the two ends of one virtual loopback cable. The
// device menus install it; until then no open is refused.
using TFeedbackLoopTest = std::function<bool(int direction, const std::string& name)>;
void SetFeedbackLoopTest(TFeedbackLoopTest test);
bool WouldCreateFeedbackLoop(int direction, const std::string& name);

class TMidiDeviceBase {
public:
  virtual ~TMidiDeviceBase() = default;
  TMidiDeviceBase(const TMidiDeviceBase&) = delete;
  TMidiDeviceBase& operator=(const TMidiDeviceBase&) = delete;

  // The platform's name of device index; empty if the platform refuses.
  virtual std::string GetDeviceName(int32_t index) = 0;
  virtual int GetDirection() const = 0;
  virtual std::string GetTypeName() const = 0;
  virtual bool IsOpen() const = 0;
  virtual void Open();
  virtual void Close();
  virtual int GetNumDevs() = 0;

  bool IsClosed() const { return !IsOpen(); }
  void SetDeviceID(int32_t id);
  void FillDeviceList(TDeviceList& list);
  // Drops an open device whose index now names another device, or none.
  void ValidateOpenDevice();
  // The open device is now listed at index (a port listed before it went away);
  // its connection stays as it is. False, changing nothing, when index names
  // another device or nothing is open.
  bool MoveOpenDevice(int32_t index);

  int32_t DeviceID() const { return FDeviceID; }
  const std::string& DeviceName() const { return FDeviceName; }
  bool AllowMapper() const { return FAllowMapper; }
  bool DetectMidiLoop() const { return FDetectMidiLoop; }
  void SetDetectMidiLoop(bool value) { FDetectMidiLoop = value; }
  // Why the devices cannot be reached now (the MIDI system stopped or does not
  // answer); empty while it runs.
  std::string UnreachableText() const;

protected:
  TMidiDeviceBase(TMidiService& service, bool allowMapper);

  // Opens DeviceID and keeps the port, or raises the direction's exception.
  virtual void DoOpen() = 0;
  // Takes the open port and closes it on the platform.
  virtual void DoClose() = 0;
  // Lets go of a port that no longer names the chosen device, without resetting
  // it, but still releasing everything the device and the backend hold for it.
  virtual void DoDiscard() = 0;
  // The service's text for code in this direction; empty when it has none.
  virtual std::string GetErrorText(TMidiResult code) const = 0;

  // The exception message for a failed call: context, line break, error text.
  std::string ErrorMessage(const std::string& context, TMidiResult code) const;

  TMidiService& FService;

private:
  int32_t FDeviceID = NoDevice;
  std::string FDeviceName;
  const bool FAllowMapper;
  bool FDetectMidiLoop = true;
};

// A long-message buffer handed to the service. Header.User leads back to the
// wrapper when the service hands the buffer back.
class TMidiHdrBase {
public:
  explicit TMidiHdrBase(uint32_t size);
  virtual ~TMidiHdrBase() = default;
  TMidiHdrBase(const TMidiHdrBase&) = delete;
  TMidiHdrBase& operator=(const TMidiHdrBase&) = delete;

  TMidiBuffer Header;

private:
  std::unique_ptr<uint8_t[]> FBuffer;
};

} // namespace pelrow
