// Enumerating sequencer ports and merging them into stable lists.
#include "midi/service/alsa/alsa_device_observer.h"

#include <algorithm>

namespace pelrow {

namespace {
constexpr unsigned ReadCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned WriteCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

void Enumerate(TAlsaSequencer& sequencer, std::vector<TAlsaPort>& sources,
               std::vector<TAlsaPort>& destinations) {
  sequencer.WithOutputHandle([&](snd_seq_t* seq) {
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
      const int id = snd_seq_client_info_get_client(client);
      if (id == SND_SEQ_CLIENT_SYSTEM || sequencer.IsOwnClient(id))
        continue;
      const bool kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq, port) >= 0) {
        const unsigned caps = snd_seq_port_info_get_capability(port);
        if (caps & SND_SEQ_PORT_CAP_NO_EXPORT)
          continue;
        TAlsaPort entry;
        entry.Name = std::string(snd_seq_client_info_get_name(client)) + ":" +
                     snd_seq_port_info_get_name(port);
        entry.Address = {id, snd_seq_port_info_get_port(port)};
        entry.Hardware = kernel && (snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_HARDWARE);
        if (entry.Hardware)
          entry.Card = snd_seq_client_info_get_card(client);
        if ((caps & ReadCaps) == ReadCaps)
          AddUniquelyNamed(sources, entry);
        if ((caps & WriteCaps) == WriteCaps)
          AddUniquelyNamed(destinations, entry);
      }
    }
  });
}

} // namespace

void AddUniquelyNamed(std::vector<TAlsaPort>& ports, TAlsaPort port) {
  const std::string base = port.Name;
  const auto taken = [&](const std::string& name) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const TAlsaPort& p) { return p.Name == name; });
  };
  for (int copy = 2; taken(port.Name); ++copy)
    port.Name = base + " (" + std::to_string(copy) + ")";
  ports.push_back(std::move(port));
}

void MergePorts(std::vector<TAlsaPort>& known, const std::vector<TAlsaPort>& now) {
  const auto named = [](const std::string& name) {
    return [&name](const TAlsaPort& p) { return p.Name == name; };
  };
  std::vector<TAlsaPort> merged;
  for (const TAlsaPort& old : known)
    if (const auto found = std::find_if(now.begin(), now.end(), named(old.Name));
        found != now.end())
      merged.push_back(*found);
  for (const TAlsaPort& port : now)
    if (std::none_of(merged.begin(), merged.end(), named(port.Name)))
      merged.push_back(port);
  known.swap(merged);
}

void TAlsaDeviceObserver::SetHandler(std::function<void()> handler) {
  std::lock_guard lock(FHandlerLock);
  FHandler = std::move(handler);
}

void TAlsaDeviceObserver::PortsChanged() {
  FChanged = true;
  std::lock_guard lock(FHandlerLock);
  if (FHandler)
    FHandler();
}

void TAlsaDeviceObserver::RefreshIfChanged(TAlsaSequencer& sequencer) {
  if (!FChanged.exchange(false))
    return;
  std::vector<TAlsaPort> sources, destinations;
  Enumerate(sequencer, sources, destinations);
  MergePorts(FSources, sources);
  MergePorts(FDestinations, destinations);
}

} // namespace pelrow
