// The loopback backend's shared state: its port list (which can change at run time,
// like hardware being plugged in), the routes from outputs to the open inputs of
// the same name, and the failures a test may ask for. Ports keep the hub alive, so
// an open port may outlive its service.
#pragma once

#include "midi/service/midi_service.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pelrow {

class TMidiInputStream;

inline constexpr const char* LoopbackPortName = "Pelrow Loopback";

enum class TLoopbackDirection { Input = 0, Output = 1 };

class TLoopbackHub {
public:
  TLoopbackHub();

  std::vector<std::string> Ports(TLoopbackDirection direction);
  bool IsPresent(TLoopbackDirection direction, const std::string& name);
  // Adds a port at position (appended when out of range); removes the first port of
  // that name. Both report the change through the devices-changed handler.
  void Add(TLoopbackDirection direction, const std::string& name, int position);
  bool Remove(TLoopbackDirection direction, const std::string& name);

  void SetOpenFailure(TLoopbackDirection direction, const std::string& name, TMidiResult code);
  TMidiResult OpenFailure(TLoopbackDirection direction, const std::string& name);
  void SetSendFailure(const std::string& name, TMidiResult code);
  // MidiOk when the output may send now: it is present and not told to refuse.
  TMidiResult SendState(const std::string& name);
  // A stalled output takes messages but writes none until it is released, as a
  // slow device would; a true aborted() (a reset) ends the wait.
  void SetStalled(const std::string& name, bool stalled);
  void WaitWhileStalled(const std::string& name, const std::function<bool()>& aborted);

  // An input is open at most once, as a hardware input is.
  TMidiResult Attach(const std::string& name, TMidiInputStream& input);
  void Detach(const std::string& name, TMidiInputStream& input);
  // Hands bytes to the open input of that name, if the input is present and open.
  bool Deliver(const std::string& name, const uint8_t* data, size_t size);

  void SetOnDevicesChanged(std::function<void()> handler);

private:
  bool Present(TLoopbackDirection direction, const std::string& name) const;
  void DevicesChanged();

  std::mutex FMutex;
  std::vector<std::string> FPorts[2];
  std::map<std::string, TMidiInputStream*> FOpenInputs;
  std::map<std::string, TMidiResult> FOpenFailures[2];
  std::map<std::string, TMidiResult> FSendFailures;
  std::set<std::string> FStalled;
  std::condition_variable FStallChanged;
  std::function<void()> FOnDevicesChanged;
};

} // namespace pelrow
