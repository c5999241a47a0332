// The platform MIDI service over JACK: devices are the other clients' MIDI ports,
// named by their full port names. When the server goes away the service says so,
// closes its client at once (ports still open then do nothing), lists no ports,
// and tries every few seconds to reach a server under the same name again; once
// it answers, its ports are listed and the devices-changed notice goes out, so
// stored devices are bound again as after any hot-plug. A service made to wait
// for a server that is not running yet does the same from the start.
#pragma once

#include "midi/service/jack/jack_device_observer.h"
#include "midi/service/jack/jack_helpers.h"
#include "midi/service/midi_service.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pelrow {

class TJackMidiService final : public TMidiService {
public:
  static constexpr auto RetryInterval = std::chrono::seconds(3);

  // Null with a reason when no JACK server answers, unless awaitServer: then the
  // service starts without one and picks it up once it runs. A server is never
  // started.
  static std::unique_ptr<TJackMidiService> Create(std::string& failure, bool awaitServer = false);
  ~TJackMidiService() override;

  std::string Name() const override { return "JACK"; }
  int InputCount() override;
  int OutputCount() override;
  TMidiResult InputName(int index, std::string& name) override;
  TMidiResult OutputName(int index, std::string& name) override;
  TMidiResult OpenInput(int index, TMidiInCallback callback,
                        std::unique_ptr<TMidiInPort>& port) override;
  TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                         std::unique_ptr<TMidiOutPort>& port) override;
  TMidiResult InErrorText(TMidiResult code, std::string& text) const override;
  TMidiResult OutErrorText(TMidiResult code, std::string& text) const override;
  TMidiResult Failure() const override;
  void SetOnDevicesChanged(std::function<void()> handler) override;

private:
  TJackMidiService() = default;
  const std::vector<std::string>& Names(bool inputs) const;
  bool Usable() const;
  void Count();
  void Reconnect();
  TJackClientPtr TryServer();
  TJackClientPtr OpenClient(std::string& failure);
  // A client's notice: the ports changed, or its server's state did.
  void ClientNotice();

  TJackDeviceObserver FObserver;
  TJackClientPtr FClient; // UI thread; null before a server was reached
  std::mutex FLock;
  std::condition_variable FWake;
  TJackClientPtr FCurrent;   // guarded by FLock: FClient, for the reconnect thread
  TJackClientPtr FNewClient; // guarded by FLock: opened by the reconnect thread,
                             // taken over at the next count
  bool FQuit = false;        // guarded by FLock
  std::thread FReconnect;
};

} // namespace pelrow
