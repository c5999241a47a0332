// Device choice, open/close life cycle and device lists shared by input and output.
#include "midi/midi_device.h"

#include "support/trace.h"

namespace pelrow {

namespace {
constexpr const char* TextChangeWhileOpen =
    "Internal error: change MIDI port by ID while device is open";
constexpr const char* TextFeedbackLoop = "Opening \"%s\" would create a virtual feedback loop !";
constexpr const char* TextMidiMapper = "MIDI Mapper";
// The multimedia service writes error texts into 128 characters, terminator included.
constexpr size_t MaxErrorTextLength = 127;

TFeedbackLoopTest& FeedbackLoopTest() {
  static TFeedbackLoopTest test;
  return test;
}
} // namespace

void SetFeedbackLoopTest(TFeedbackLoopTest test) {
  FeedbackLoopTest() = std::move(test);
}

bool WouldCreateFeedbackLoop(int direction, const std::string& name) {
  const TFeedbackLoopTest& test = FeedbackLoopTest();
  return test && test(direction, name);
}

TMidiDeviceBase::TMidiDeviceBase(TMidiService& service, bool allowMapper)
    : FService(service), FAllowMapper(allowMapper) {}

void TMidiDeviceBase::SetDeviceID(int32_t id) {
  if (IsOpen())
    throw EMidiError(TextChangeWhileOpen);
  if ((id >= 0 && id < GetNumDevs()) || (id == MidiMapper && FAllowMapper)) {
    FDeviceID = id;
    FDeviceName = GetDeviceName(id);
  } else {
    FDeviceID = NoDevice;
    FDeviceName.clear();
  }
}

void TMidiDeviceBase::Open() {
  if (FDeviceID == NoDevice || IsOpen())
    return;
  if (FDetectMidiLoop && WouldCreateFeedbackLoop(GetDirection(), FDeviceName))
    throw EVirtualMIDIFeedback(FormatText(TextFeedbackLoop, FDeviceName));
  Trace("Opening " + GetTypeName() + " device " + FDeviceName);
  DoOpen();
  OpenDeviceListAdd(GetDirection(), FDeviceName);
}

void TMidiDeviceBase::Close() {
  ValidateOpenDevice();
  if (IsOpen())
    DoClose();
  OpenDeviceListRemove(GetDirection(), FDeviceName);
}

void TMidiDeviceBase::ValidateOpenDevice() {
  if (!IsOpen() || SameDeviceName(GetDeviceName(FDeviceID), FDeviceName))
    return;
  Trace(GetTypeName() + ": open device " + FDeviceName + " not valid anymore. Closing it.");
  DoDiscard();
  Close();
}

bool TMidiDeviceBase::MoveOpenDevice(int32_t index) {
  if (!IsOpen() || index < 0 || GetDeviceName(index) != FDeviceName)
    return false;
  FDeviceID = index;
  return true;
}

void TMidiDeviceBase::FillDeviceList(TDeviceList& list) {
  list.clear();
  const int count = GetNumDevs();
  for (int32_t index = 0; index < count; ++index) {
    std::string name = GetDeviceName(index);
    if (!name.empty())
      list.push_back({std::move(name), index});
  }
  if (FAllowMapper && !list.empty())
    list.insert(list.begin(), {TextMidiMapper, MidiMapper});
}

std::string TMidiDeviceBase::UnreachableText() const {
  const TMidiResult failure = FService.Failure();
  return failure == MidiOk ? std::string() : GetErrorText(failure);
}

std::string TMidiDeviceBase::ErrorMessage(const std::string& context, TMidiResult code) const {
  std::string text = GetErrorText(code);
  if (text.size() > MaxErrorTextLength)
    text.resize(MaxErrorTextLength);
  return MidiErrorMessage(context, text);
}

TMidiHdrBase::TMidiHdrBase(uint32_t size) {
  Header.User = this;
  if (size == 0)
    return;
  FBuffer = std::make_unique<uint8_t[]>(size);
  Header.Data = FBuffer.get();
  Header.BufferLength = size;
}

} // namespace pelrow
