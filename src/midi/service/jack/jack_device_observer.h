// Which MIDI ports the JACK graph offers, and the hot-plug notices about them.
// The JACK notification thread only raises a flag and passes the notice on; the
// port lists are read again on the UI thread, once, at the next question after it.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pelrow {

class TJackDeviceObserver {
public:
  void SetHandler(std::function<void()> handler);
  // JACK thread: a port came, went or was renamed.
  void PortsChanged();

  // UI thread. Inputs are the other clients' MIDI output ports, outputs their MIDI
  // input ports, by full port name. A port keeps its place while it exists; new
  // ports are added at the end.
  const std::vector<std::string>& Sources(jack_client_t* client);
  const std::vector<std::string>& Destinations(jack_client_t* client);

private:
  void RefreshIfChanged(jack_client_t* client);

  std::atomic<bool> FChanged{true};
  std::mutex FHandlerLock;
  std::function<void()> FHandler;
  std::vector<std::string> FSources;
  std::vector<std::string> FDestinations;
};

} // namespace pelrow
