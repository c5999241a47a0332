// Records and helpers that the whole program shares about MIDI: the received-event
// record, message lengths by status byte, the packed short message, device index
// conventions, device name matching, the names of the devices this program has
// open, the device layer's lock and its exceptions.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace pelrow {

// Device indexes: 0..count-1 are platform devices.
constexpr int32_t MidiMapper = -1;  // output only
constexpr int32_t NoDevice = 30000; // nothing chosen

// Directions, as used by the open-device lists and the feedback-loop test.
constexpr int MidiInputDirection = 0;
constexpr int MidiOutputDirection = 1;

// Length of a message that begins with status: 0 for a data byte, 1 for F0.
int StatusLength(uint8_t status);

// status in bits 0-7, first data byte in bits 8-15, second in bits 16-23.
constexpr uint32_t PackShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  return uint32_t{status} | uint32_t{data1} << 8 | uint32_t{data2} << 16;
}
constexpr uint8_t PackedStatus(uint32_t message) {
  return static_cast<uint8_t>(message);
}
constexpr uint8_t PackedData1(uint32_t message) {
  return static_cast<uint8_t>(message >> 8);
}
constexpr uint8_t PackedData2(uint32_t message) {
  return static_cast<uint8_t>(message >> 16);
}

// What an input knows about a place in its data where input went missing.
enum class TInputGap : uint8_t {
  None,      // an ordinary message
  Lost,      // input was lost here (LostBytes of it when known)
  MayBeLost, // the MIDI system was interrupted here: input may be missing
  Overrun,   // the device's own input overran here: LostBytes of it were lost
};

// Input was certainly lost at the gap, whatever the cause.
constexpr bool CertainLoss(TInputGap gap) {
  return gap == TInputGap::Lost || gap == TInputGap::Overrun;
}

// One received MIDI message, owned by whoever took it from the input. A gap is an
// event of its own, at its place among the messages, with no MIDI data.
class TMyMidiEvent {
public:
  static std::unique_ptr<TMyMidiEvent> FromShort(uint32_t message, uint32_t timestamp);
  // Long data is copied; Status is F0 for empty data or data starting with F0, else
  // F7 (a later piece of a SysEx message).
  static std::unique_ptr<TMyMidiEvent> FromLong(const uint8_t* data, uint32_t length,
                                                uint32_t timestamp);
  static std::unique_ptr<TMyMidiEvent> FromGap(TInputGap gap, uint64_t lostBytes,
                                               uint32_t timestamp);

  uint8_t Status = 0;
  uint8_t Data1 = 0;
  uint8_t Data2 = 0;
  uint32_t Timestamp = 0; // ms since the input was started
  int32_t Length = 0;     // long-data bytes; 0 for a short message
  std::unique_ptr<uint8_t[]> Data;
  // Long data that ends a SysEx message cut short: the rest never came. On a gap:
  // the gap cut the message before it, whose pieces came whole.
  bool Damaged = false;
  TInputGap Gap = TInputGap::None;
  // With a certain loss: the bytes lost, 0 when nobody could count them. With
  // MayBeLost: the bytes after it that continued a message it cut, not kept.
  uint64_t LostBytes = 0;
};

// Length if not 0, else the status byte's length.
int MessageLength(const TMyMidiEvent& event);

// Names equal once A-Z are lower-cased and spaces removed.
bool SameDeviceName(const std::string& a, const std::string& b);
// A name so lower-cased and without its spaces.
std::string FoldedDeviceName(const std::string& name);

// Names of the devices this program has open, one list per direction; touched on
// the UI thread only. Lookup ignores letter case and compares whole names.
void OpenDeviceListAdd(int direction, const std::string& name);
void OpenDeviceListRemove(int direction, const std::string& name);
bool OpenDeviceListContains(int direction, const std::string& name);

// The device layer's one lock, re-entrant for the thread that holds it.
class TLock {
public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }

private:
  std::recursive_mutex FMutex;
};

// Holds a TLock for a scope.
class TLockGuard {
public:
  explicit TLockGuard(TLock& lock) : FLock(lock) { FLock.Enter(); }
  ~TLockGuard() { FLock.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

private:
  TLock& FLock;
};

class EMidiError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EMidiOutputError : public EMidiError {
public:
  EMidiOutputError(const std::string& message, uint32_t errorCode)
      : EMidiError(message), ErrorCode(errorCode) {}
  uint32_t ErrorCode;
};

class EMidiInputError : public std::runtime_error {
public:
  EMidiInputError(const std::string& message, uint32_t errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  uint32_t ErrorCode;
};

class EVirtualMIDIFeedback : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The message of a device exception: context, CR LF and the platform's error text,
// or the error text alone when there is no context. An empty error text (the
// platform had none) reads "Unspecified error".
std::string MidiErrorMessage(const std::string& context, const std::string& errorText);

} // namespace pelrow
