// Which sequencer ports the ALSA backend offers, by names that survive replug
// and reboot ("client name:port name", with " (2)" for a second port of the same
// name), and the hot-plug notices from the System Announce port. The reader
// thread only raises a flag and passes the notice on; the ports are enumerated
// again on the UI thread when the devices are next counted.
#pragma once

#include "midi/service/alsa/alsa_helpers.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pelrow {

struct TAlsaPort {
  std::string Name;
  TAlsaAddress Address;
  bool Hardware = false; // behind it is a MIDI cable, which takes 3125 bytes a second
  int Card = -1;         // the sound card whose raw MIDI device it is, for hardware
};

// Adds port under its name, or as "name (2)", "name (3)"... when the name is taken.
void AddUniquelyNamed(std::vector<TAlsaPort>& ports, TAlsaPort port);
// Known names keep their place (with the address they have now, which changes on
// replug); vanished ones leave, new ones join at the end.
void MergePorts(std::vector<TAlsaPort>& known, const std::vector<TAlsaPort>& now);

class TAlsaDeviceObserver {
public:
  void SetHandler(std::function<void()> handler);
  void PortsChanged();

  void RefreshIfChanged(TAlsaSequencer& sequencer);
  // Inputs are ports we can read from by subscription, outputs ports we can write
  // to. A port keeps its place while it exists; new ones are added at the end.
  const std::vector<TAlsaPort>& Sources() const { return FSources; }
  const std::vector<TAlsaPort>& Destinations() const { return FDestinations; }

private:
  std::atomic<bool> FChanged{true};
  std::mutex FHandlerLock;
  std::function<void()> FHandler;
  std::vector<TAlsaPort> FSources;
  std::vector<TAlsaPort> FDestinations;
};

} // namespace pelrow
