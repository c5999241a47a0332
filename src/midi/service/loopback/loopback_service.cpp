// The loopback MIDI backend.
#include "midi/service/loopback/loopback_service.h"

#include "midi/service/loopback/loopback_input.h"
#include "midi/service/loopback/loopback_output.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace pelrow {

namespace {
constexpr const char* BackendName = "Loopback";
constexpr size_t InjectPieceBytes = 256;
} // namespace

TLoopbackMidiService::TLoopbackMidiService() : FHub(std::make_shared<TLoopbackHub>()) {
  FListed[static_cast<size_t>(TLoopbackDirection::Input)] = FHub->Ports(TLoopbackDirection::Input);
  FListed[static_cast<size_t>(TLoopbackDirection::Output)] =
      FHub->Ports(TLoopbackDirection::Output);
}

const std::vector<std::string>& TLoopbackMidiService::Listed(TLoopbackDirection direction) const {
  return FListed[static_cast<size_t>(direction)];
}

TMidiResult TLoopbackMidiService::NameAt(TLoopbackDirection direction, int index,
                                         std::string& name) const {
  const std::vector<std::string>& ports = Listed(direction);
  if (index < 0 || static_cast<size_t>(index) >= ports.size())
    return MidiErrBadDeviceId;
  name = ports[static_cast<size_t>(index)];
  return MidiOk;
}

std::string TLoopbackMidiService::Name() const {
  return BackendName;
}

int TLoopbackMidiService::InputCount() {
  auto& listed = FListed[static_cast<size_t>(TLoopbackDirection::Input)];
  listed = FHub->Ports(TLoopbackDirection::Input);
  return static_cast<int>(listed.size());
}

int TLoopbackMidiService::OutputCount() {
  auto& listed = FListed[static_cast<size_t>(TLoopbackDirection::Output)];
  listed = FHub->Ports(TLoopbackDirection::Output);
  return static_cast<int>(listed.size());
}

TMidiResult TLoopbackMidiService::InputName(int index, std::string& name) {
  return NameAt(TLoopbackDirection::Input, index, name);
}

TMidiResult TLoopbackMidiService::OutputName(int index, std::string& name) {
  return NameAt(TLoopbackDirection::Output, index, name);
}

TMidiResult TLoopbackMidiService::OpenInput(int index, TMidiInCallback callback,
                                            std::unique_ptr<TMidiInPort>& port) {
  std::string name;
  if (const TMidiResult result = InputName(index, name); result != MidiOk)
    return result;
  if (!FHub->IsPresent(TLoopbackDirection::Input, name))
    return MidiErrNoDevice;
  if (const TMidiResult failure = FHub->OpenFailure(TLoopbackDirection::Input, name))
    return failure;
  auto opened = std::make_unique<TLoopbackInPort>(FHub, name, std::move(callback));
  if (const TMidiResult result = opened->Attach(); result != MidiOk)
    return result;
  port = std::move(opened);
  return MidiOk;
}

TMidiResult TLoopbackMidiService::OpenOutput(int index, TMidiOutCallback callback,
                                             std::unique_ptr<TMidiOutPort>& port) {
  std::string name;
  if (const TMidiResult result = OutputName(index, name); result != MidiOk)
    return result;
  if (!FHub->IsPresent(TLoopbackDirection::Output, name))
    return MidiErrNoDevice;
  if (const TMidiResult failure = FHub->OpenFailure(TLoopbackDirection::Output, name))
    return failure;
  port = std::make_unique<TLoopbackOutPort>(FHub, name, std::move(callback));
  return MidiOk;
}

void TLoopbackMidiService::SetOnDevicesChanged(std::function<void()> handler) {
  FHub->SetOnDevicesChanged(std::move(handler));
}

void TLoopbackMidiService::AddInput(const std::string& name, int position) {
  FHub->Add(TLoopbackDirection::Input, name, position);
}

void TLoopbackMidiService::AddOutput(const std::string& name, int position) {
  FHub->Add(TLoopbackDirection::Output, name, position);
}

bool TLoopbackMidiService::RemoveInput(const std::string& name) {
  return FHub->Remove(TLoopbackDirection::Input, name);
}

bool TLoopbackMidiService::RemoveOutput(const std::string& name) {
  return FHub->Remove(TLoopbackDirection::Output, name);
}

bool TLoopbackMidiService::InjectInput(const std::string& name, const std::vector<uint8_t>& bytes,
                                       uint32_t bytesPerSecond) {
  if (bytesPerSecond == 0)
    return FHub->Deliver(name, bytes.data(), bytes.size());
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (size_t offset = 0; offset < bytes.size(); offset += InjectPieceBytes) {
    const size_t piece = std::min(InjectPieceBytes, bytes.size() - offset);
    if (!FHub->Deliver(name, bytes.data() + offset, piece))
      return false;
    const auto due = std::chrono::microseconds((offset + piece) * 1000000ull / bytesPerSecond);
    std::this_thread::sleep_until(start + due);
  }
  return true;
}

void TLoopbackMidiService::FailOpen(TLoopbackDirection direction, const std::string& name,
                                    TMidiResult code) {
  FHub->SetOpenFailure(direction, name, code);
}

void TLoopbackMidiService::StallOutput(const std::string& name, bool stalled) {
  FHub->SetStalled(name, stalled);
}

void TLoopbackMidiService::RefuseSends(const std::string& name, TMidiResult code) {
  FHub->SetSendFailure(name, code);
}

} // namespace pelrow
