// Which MIDI ports the JACK graph offers, and the hot-plug notices about them.
// The JACK notification thread only raises a flag and passes the notice on; the
// port lists are read again on the UI thread, once, when the devices are next
// counted. Names and open calls use the list as last counted, so an index keeps
// meaning the same port between a count and the calls that follow it.
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
  void RefreshIfChanged(jack_client_t* client);
  // A new client (the server came back): the lists are read afresh at the next
  // refresh; ports that are there again keep no old places.
  void Forget();
  const std::vector<std::string>& Sources() const { return FSources; }
  const std::vector<std::string>& Destinations() const { return FDestinations; }

private:
  std::atomic<bool> FChanged{true};
  std::mutex FHandlerLock;
  std::function<void()> FHandler;
  std::vector<std::string> FSources;
  std::vector<std::string> FDestinations;
};

} // namespace pelrow
