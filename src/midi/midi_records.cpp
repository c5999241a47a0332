// Shared MIDI records, lengths, name matching and open-device lists.
#include "midi/midi_records.h"

#include "midi/service/midi_input_stream.h"

#include <algorithm>
#include <cstring>
#include <locale>
#include <vector>

namespace pelrow {

namespace {
constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExContinuation = 0xF7;
constexpr const char* TextUnspecifiedError = "Unspecified error";
constexpr const char* LineBreak = "\r\n";

// Case folding in the user's locale, as the device names are compared by the user.
const std::ctype<char>& UserCType() {
  static const std::locale locale = [] {
    try {
      return std::locale("");
    } catch (const std::runtime_error&) {
      return std::locale::classic();
    }
  }();
  return std::use_facet<std::ctype<char>>(locale);
}

bool SameTextIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  const auto& ctype = UserCType();
  for (size_t i = 0; i < a.size(); ++i)
    if (ctype.tolower(a[i]) != ctype.tolower(b[i]))
      return false;
  return true;
}

std::vector<std::string>& OpenDeviceList(int direction) {
  static std::vector<std::string> lists[2];
  return lists[direction == MidiOutputDirection ? 1 : 0];
}

std::vector<std::string>::iterator FindOpenDevice(int direction, const std::string& name) {
  auto& list = OpenDeviceList(direction);
  return std::find_if(list.begin(), list.end(),
                      [&](const std::string& entry) { return SameTextIgnoreCase(entry, name); });
}

} // namespace

std::string FoldedDeviceName(const std::string& name) {
  std::string folded;
  folded.reserve(name.size());
  for (char c : name) {
    if (c == ' ')
      continue;
    folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return folded;
}

int StatusLength(uint8_t status) {
  return ShortMessageLength(status);
}

std::unique_ptr<TMyMidiEvent> TMyMidiEvent::FromShort(uint32_t message, uint32_t timestamp) {
  auto event = std::make_unique<TMyMidiEvent>();
  event->Status = PackedStatus(message);
  event->Data1 = PackedData1(message);
  event->Data2 = PackedData2(message);
  event->Timestamp = timestamp;
  return event;
}

std::unique_ptr<TMyMidiEvent> TMyMidiEvent::FromLong(const uint8_t* data, uint32_t length,
                                                     uint32_t timestamp) {
  auto event = std::make_unique<TMyMidiEvent>();
  event->Status = (length == 0 || data[0] == SysExStart) ? SysExStart : SysExContinuation;
  event->Timestamp = timestamp;
  event->Length = static_cast<int32_t>(length);
  if (length > 0) {
    event->Data = std::make_unique<uint8_t[]>(length);
    std::memcpy(event->Data.get(), data, length);
  }
  return event;
}

std::unique_ptr<TMyMidiEvent> TMyMidiEvent::FromGap(TInputGap gap, uint64_t lostBytes,
                                                    uint32_t timestamp) {
  auto event = std::make_unique<TMyMidiEvent>();
  event->Gap = gap;
  event->LostBytes = lostBytes;
  event->Timestamp = timestamp;
  return event;
}

int MessageLength(const TMyMidiEvent& event) {
  return event.Length != 0 ? event.Length : StatusLength(event.Status);
}

bool SameDeviceName(const std::string& a, const std::string& b) {
  return FoldedDeviceName(a) == FoldedDeviceName(b);
}

void OpenDeviceListAdd(int direction, const std::string& name) {
  if (FindOpenDevice(direction, name) == OpenDeviceList(direction).end())
    OpenDeviceList(direction).push_back(name);
}

void OpenDeviceListRemove(int direction, const std::string& name) {
  const auto found = FindOpenDevice(direction, name);
  if (found != OpenDeviceList(direction).end())
    OpenDeviceList(direction).erase(found);
}

bool OpenDeviceListContains(int direction, const std::string& name) {
  return FindOpenDevice(direction, name) != OpenDeviceList(direction).end();
}

std::string MidiErrorMessage(const std::string& context, const std::string& errorText) {
  const std::string text = errorText.empty() ? TextUnspecifiedError : errorText;
  return context.empty() ? text : context + LineBreak + text;
}

} // namespace pelrow
