// JACK port lists and hot-plug notices.
#include "midi/service/jack/jack_device_observer.h"

#include <algorithm>

namespace pelrow {

namespace {
std::vector<std::string> OtherClientsPorts(jack_client_t* client, unsigned long flags) {
  std::vector<std::string> names;
  const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
  if (ports == nullptr)
    return names;
  const std::string own = std::string(jack_get_client_name(client)) + ":";
  for (const char** port = ports; *port != nullptr; ++port)
    if (std::string_view(*port).substr(0, own.size()) != own)
      names.emplace_back(*port);
  jack_free(ports);
  return names;
}

// Known names stay where they were (so an open device keeps its index while other
// ports come and go behind it); vanished ones leave, new ones join at the end.
void Merge(std::vector<std::string>& known, const std::vector<std::string>& now) {
  std::erase_if(known, [&](const std::string& name) {
    return std::find(now.begin(), now.end(), name) == now.end();
  });
  for (const std::string& name : now)
    if (std::find(known.begin(), known.end(), name) == known.end())
      known.push_back(name);
}
} // namespace

void TJackDeviceObserver::SetHandler(std::function<void()> handler) {
  std::lock_guard lock(FHandlerLock);
  FHandler = std::move(handler);
}

void TJackDeviceObserver::PortsChanged() {
  FChanged = true;
  std::lock_guard lock(FHandlerLock);
  if (FHandler)
    FHandler();
}

void TJackDeviceObserver::Forget() {
  FSources.clear();
  FDestinations.clear();
  FChanged = true;
}

void TJackDeviceObserver::RefreshIfChanged(jack_client_t* client) {
  if (!FChanged.exchange(false))
    return;
  Merge(FSources, OtherClientsPorts(client, JackPortIsOutput));
  Merge(FDestinations, OtherClientsPorts(client, JackPortIsInput));
}

} // namespace pelrow
