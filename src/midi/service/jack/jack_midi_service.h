// The platform MIDI service over JACK: devices are the other clients' MIDI ports,
// named by their full port names.
#pragma once

#include "midi/service/jack/jack_device_observer.h"
#include "midi/service/jack/jack_helpers.h"
#include "midi/service/midi_service.h"

#include <memory>
#include <string>

namespace pelrow {

class TJackMidiService final : public TMidiService {
public:
  static constexpr const char* ClientName = "Pelrow";

  // Null with a reason when no JACK server answers; a server is never started.
  static std::unique_ptr<TJackMidiService> Create(std::string& failure);
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
  void SetOnDevicesChanged(std::function<void()> handler) override;

private:
  TJackMidiService() = default;
  const std::vector<std::string>& Names(bool inputs) const;

  TJackDeviceObserver FObserver;
  std::unique_ptr<TJackClient> FClient;
};

} // namespace pelrow
