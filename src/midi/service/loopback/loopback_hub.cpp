// Port list, routes and requested failures of the loopback backend.
#include "midi/service/loopback/loopback_hub.h"

#include "midi/service/midi_input_stream.h"

#include <algorithm>
#include <chrono>

namespace pelrow {

namespace {
size_t Slot(TLoopbackDirection direction) {
  return static_cast<size_t>(direction);
}
} // namespace

TLoopbackHub::TLoopbackHub() {
  FPorts[Slot(TLoopbackDirection::Input)].push_back(LoopbackPortName);
  FPorts[Slot(TLoopbackDirection::Output)].push_back(LoopbackPortName);
}

std::vector<std::string> TLoopbackHub::Ports(TLoopbackDirection direction) {
  std::lock_guard<std::mutex> lock(FMutex);
  return FPorts[Slot(direction)];
}

bool TLoopbackHub::IsPresent(TLoopbackDirection direction, const std::string& name) {
  std::lock_guard<std::mutex> lock(FMutex);
  return Present(direction, name);
}

void TLoopbackHub::Add(TLoopbackDirection direction, const std::string& name, int position) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    auto& ports = FPorts[Slot(direction)];
    const bool inRange = position >= 0 && static_cast<size_t>(position) <= ports.size();
    ports.insert(inRange ? ports.begin() + position : ports.end(), name);
  }
  DevicesChanged();
}

bool TLoopbackHub::Remove(TLoopbackDirection direction, const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    auto& ports = FPorts[Slot(direction)];
    const auto found = std::find(ports.begin(), ports.end(), name);
    if (found == ports.end())
      return false;
    ports.erase(found);
  }
  DevicesChanged();
  return true;
}

void TLoopbackHub::SetOpenFailure(TLoopbackDirection direction, const std::string& name,
                                  TMidiResult code) {
  std::lock_guard<std::mutex> lock(FMutex);
  auto& failures = FOpenFailures[Slot(direction)];
  if (code == MidiOk)
    failures.erase(name);
  else
    failures[name] = code;
}

TMidiResult TLoopbackHub::OpenFailure(TLoopbackDirection direction, const std::string& name) {
  std::lock_guard<std::mutex> lock(FMutex);
  const auto& failures = FOpenFailures[Slot(direction)];
  const auto found = failures.find(name);
  return found == failures.end() ? MidiOk : found->second;
}

void TLoopbackHub::SetSendFailure(const std::string& name, TMidiResult code) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (code == MidiOk)
    FSendFailures.erase(name);
  else
    FSendFailures[name] = code;
}

TMidiResult TLoopbackHub::SendState(const std::string& name) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!Present(TLoopbackDirection::Output, name))
    return MidiErrNoDevice;
  const auto found = FSendFailures.find(name);
  return found == FSendFailures.end() ? MidiOk : found->second;
}

void TLoopbackHub::SetStalled(const std::string& name, bool stalled) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (stalled)
      FStalled.insert(name);
    else
      FStalled.erase(name);
  }
  FStallChanged.notify_all();
}

void TLoopbackHub::WaitWhileStalled(const std::string& name, const std::function<bool()>& aborted) {
  // A reset is asked for without a notice to this hub, so look again now and then.
  constexpr auto AbortCheckInterval = std::chrono::milliseconds(2);
  std::unique_lock<std::mutex> lock(FMutex);
  while (FStalled.count(name) != 0 && !aborted())
    FStallChanged.wait_for(lock, AbortCheckInterval);
}

TMidiResult TLoopbackHub::Attach(const std::string& name, TMidiInputStream& input) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!Present(TLoopbackDirection::Input, name))
    return MidiErrNoDevice;
  if (!FOpenInputs.emplace(name, &input).second)
    return MidiErrAllocated;
  return MidiOk;
}

void TLoopbackHub::Detach(const std::string& name, TMidiInputStream& input) {
  std::lock_guard<std::mutex> lock(FMutex);
  const auto found = FOpenInputs.find(name);
  if (found != FOpenInputs.end() && found->second == &input)
    FOpenInputs.erase(found);
}

bool TLoopbackHub::Deliver(const std::string& name, const uint8_t* data, size_t size) {
  // Held while feeding so that a closing input cannot go away underneath.
  std::lock_guard<std::mutex> lock(FMutex);
  const auto found = FOpenInputs.find(name);
  if (found == FOpenInputs.end() || !Present(TLoopbackDirection::Input, name))
    return false;
  found->second->Feed(data, size);
  return true;
}

void TLoopbackHub::SetOnDevicesChanged(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(FMutex);
  FOnDevicesChanged = std::move(handler);
}

bool TLoopbackHub::Present(TLoopbackDirection direction, const std::string& name) const {
  const auto& ports = FPorts[Slot(direction)];
  return std::find(ports.begin(), ports.end(), name) != ports.end();
}

void TLoopbackHub::DevicesChanged() {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    handler = FOnDevicesChanged;
  }
  if (handler)
    handler();
}

} // namespace pelrow
