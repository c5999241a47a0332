// Error texts shared by every MIDI backend.
#include "midi/service/midi_service.h"

namespace pelrow {

namespace {
constexpr const char* TextUnspecified = "An unspecified error occurred.";
constexpr const char* TextBadDeviceId = "The device identifier is out of range.";
constexpr const char* TextAllocated = "The device is already in use by another program.";
constexpr const char* TextInvalidHandle = "The device is not open.";
constexpr const char* TextNoDriver = "No MIDI service is available.";
constexpr const char* TextNoMemory = "Not enough memory for the MIDI data.";
constexpr const char* TextInvalidParam = "An invalid parameter was passed to the MIDI service.";
constexpr const char* TextNotReady = "The device is busy and cannot take more data now.";
constexpr const char* TextNoDevice = "The device is no longer connected.";
constexpr const char* TextAccessDenied = "The device does not allow this program to use it.";
} // namespace

TMidiClientSettings& MidiClientSettings() {
  static TMidiClientSettings settings;
  return settings;
}

bool CommonMidiErrorText(TMidiResult code, std::string& text) {
  switch (code) {
  case MidiErrUnspecified:
    text = TextUnspecified;
    return true;
  case MidiErrBadDeviceId:
    text = TextBadDeviceId;
    return true;
  case MidiErrAllocated:
    text = TextAllocated;
    return true;
  case MidiErrInvalidHandle:
    text = TextInvalidHandle;
    return true;
  case MidiErrNoDriver:
    text = TextNoDriver;
    return true;
  case MidiErrNoMemory:
    text = TextNoMemory;
    return true;
  case MidiErrInvalidParam:
    text = TextInvalidParam;
    return true;
  case MidiErrNotReady:
    text = TextNotReady;
    return true;
  case MidiErrNoDevice:
    text = TextNoDevice;
    return true;
  case MidiErrAccessDenied:
    text = TextAccessDenied;
    return true;
  default:
    return false;
  }
}

TMidiResult TMidiService::InErrorText(TMidiResult code, std::string& text) const {
  return CommonMidiErrorText(code, text) ? MidiOk : MidiErrBadDeviceId;
}

TMidiResult TMidiService::OutErrorText(TMidiResult code, std::string& text) const {
  return CommonMidiErrorText(code, text) ? MidiOk : MidiErrBadDeviceId;
}

} // namespace pelrow
