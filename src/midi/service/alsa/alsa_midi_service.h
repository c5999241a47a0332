// The platform MIDI service over the ALSA sequencer.
#pragma once

#include "midi/service/alsa/alsa_device_observer.h"
#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/midi_service.h"

#include <memory>
#include <string>

namespace pelrow {

class TAlsaMidiService final : public TMidiService {
public:
  // Null with a reason when there is no sequencer device.
  static std::unique_ptr<TAlsaMidiService> Create(std::string& failure);
  ~TAlsaMidiService() override;

  std::string Name() const override { return "ALSA"; }
  int InputCount() override;
  int OutputCount() override;
  TMidiResult InputName(int index, std::string& name) override;
  TMidiResult OutputName(int index, std::string& name) override;
  std::string InputAddress(int index) override;
  std::string OutputAddress(int index) override;
  TMidiResult OpenInput(int index, TMidiInCallback callback,
                        std::unique_ptr<TMidiInPort>& port) override;
  TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                         std::unique_ptr<TMidiOutPort>& port) override;
  TMidiResult InErrorText(TMidiResult code, std::string& text) const override;
  TMidiResult OutErrorText(TMidiResult code, std::string& text) const override;
  void SetOnDevicesChanged(std::function<void()> handler) override;

private:
  TAlsaMidiService() = default;

  TAlsaDeviceObserver FObserver;
  std::unique_ptr<TAlsaSequencer> FSequencer;
};

} // namespace pelrow
