// Several MIDI backends numbered as one.
#include "midi/service/combined_service.h"

namespace pelrow {

TCombinedMidiService::TCombinedMidiService(std::vector<std::unique_ptr<TMidiService>> parts)
    : FParts(std::move(parts)) {}

std::string TCombinedMidiService::Name() const {
  std::string name;
  for (const auto& part : FParts)
    name += (name.empty() ? "" : " + ") + part->Name();
  return name;
}

int TCombinedMidiService::Count(TDirection direction) {
  std::vector<int>& counts = FCounts[static_cast<size_t>(direction)];
  counts.clear();
  int total = 0;
  for (const auto& part : FParts) {
    counts.push_back(direction == TDirection::Input ? part->InputCount() : part->OutputCount());
    total += counts.back();
  }
  return total;
}

int TCombinedMidiService::InputCount() {
  return Count(TDirection::Input);
}

int TCombinedMidiService::OutputCount() {
  return Count(TDirection::Output);
}

TMidiService* TCombinedMidiService::Locate(TDirection direction, int& index) {
  if (index < 0)
    return nullptr;
  // A caller that never counted gets the lists as they are now.
  if (FCounts[static_cast<size_t>(direction)].size() != FParts.size())
    Count(direction);
  const std::vector<int>& counts = FCounts[static_cast<size_t>(direction)];
  for (size_t part = 0; part < FParts.size(); ++part) {
    if (index < counts[part])
      return FParts[part].get();
    index -= counts[part];
  }
  return nullptr;
}

TMidiResult TCombinedMidiService::InputName(int index, std::string& name) {
  TMidiService* part = Locate(TDirection::Input, index);
  return part != nullptr ? part->InputName(index, name) : MidiErrBadDeviceId;
}

TMidiResult TCombinedMidiService::OutputName(int index, std::string& name) {
  TMidiService* part = Locate(TDirection::Output, index);
  return part != nullptr ? part->OutputName(index, name) : MidiErrBadDeviceId;
}

std::string TCombinedMidiService::InputAddress(int index) {
  TMidiService* part = Locate(TDirection::Input, index);
  return part != nullptr ? part->InputAddress(index) : std::string();
}

std::string TCombinedMidiService::OutputAddress(int index) {
  TMidiService* part = Locate(TDirection::Output, index);
  return part != nullptr ? part->OutputAddress(index) : std::string();
}

TMidiResult TCombinedMidiService::OpenInput(int index, TMidiInCallback callback,
                                            std::unique_ptr<TMidiInPort>& port) {
  TMidiService* part = Locate(TDirection::Input, index);
  return part != nullptr ? part->OpenInput(index, std::move(callback), port) : MidiErrBadDeviceId;
}

TMidiResult TCombinedMidiService::OpenOutput(int index, TMidiOutCallback callback,
                                             std::unique_ptr<TMidiOutPort>& port) {
  TMidiService* part = Locate(TDirection::Output, index);
  return part != nullptr ? part->OpenOutput(index, std::move(callback), port) : MidiErrBadDeviceId;
}

TMidiResult TCombinedMidiService::Failure() const {
  for (const auto& part : FParts)
    if (const TMidiResult failure = part->Failure(); failure != MidiOk)
      return failure;
  return MidiOk;
}

TMidiResult TCombinedMidiService::InErrorText(TMidiResult code, std::string& text) const {
  for (const auto& part : FParts)
    if (part->InErrorText(code, text) == MidiOk)
      return MidiOk;
  return MidiErrBadDeviceId;
}

TMidiResult TCombinedMidiService::OutErrorText(TMidiResult code, std::string& text) const {
  for (const auto& part : FParts)
    if (part->OutErrorText(code, text) == MidiOk)
      return MidiOk;
  return MidiErrBadDeviceId;
}

void TCombinedMidiService::SetOnDevicesChanged(std::function<void()> handler) {
  for (const auto& part : FParts)
    part->SetOnDevicesChanged(handler);
}

} // namespace pelrow
