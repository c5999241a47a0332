// The ALSA backend's device list and open calls.
#include "midi/service/alsa/alsa_midi_service.h"

#include "midi/service/alsa/alsa_input.h"
#include "midi/service/alsa/alsa_output.h"

namespace pelrow {

namespace {
const TAlsaPort* PortAt(const std::vector<TAlsaPort>& ports, int index) {
  return index >= 0 && size_t(index) < ports.size() ? &ports[size_t(index)] : nullptr;
}

TMidiResult NameAt(const std::vector<TAlsaPort>& ports, int index, std::string& name) {
  const TAlsaPort* port = PortAt(ports, index);
  if (port == nullptr)
    return MidiErrBadDeviceId;
  name = port->Name;
  return MidiOk;
}
} // namespace

std::unique_ptr<TAlsaMidiService> TAlsaMidiService::Create(std::string& failure) {
  std::unique_ptr<TAlsaMidiService> service(new TAlsaMidiService());
  TAlsaDeviceObserver& observer = service->FObserver;
  service->FSequencer = TAlsaSequencer::Open([&observer] { observer.PortsChanged(); }, failure);
  if (!service->FSequencer)
    return nullptr;
  return service;
}

// The sequencer goes first, so that no announcement reaches the observer afterwards.
TAlsaMidiService::~TAlsaMidiService() {
  FSequencer.reset();
}

int TAlsaMidiService::InputCount() {
  FObserver.RefreshIfChanged(*FSequencer);
  return int(FObserver.Sources().size());
}

int TAlsaMidiService::OutputCount() {
  FObserver.RefreshIfChanged(*FSequencer);
  return int(FObserver.Destinations().size());
}

TMidiResult TAlsaMidiService::InputName(int index, std::string& name) {
  return NameAt(FObserver.Sources(), index, name);
}

TMidiResult TAlsaMidiService::OutputName(int index, std::string& name) {
  return NameAt(FObserver.Destinations(), index, name);
}

namespace {
std::string AddressText(const TAlsaPort* port) {
  return port == nullptr ? std::string()
                         : std::to_string(port->Address.Client) + ":" +
                               std::to_string(port->Address.Port);
}
} // namespace

std::string TAlsaMidiService::InputAddress(int index) {
  return AddressText(PortAt(FObserver.Sources(), index));
}

std::string TAlsaMidiService::OutputAddress(int index) {
  return AddressText(PortAt(FObserver.Destinations(), index));
}

TMidiResult TAlsaMidiService::OpenInput(int index, TMidiInCallback callback,
                                        std::unique_ptr<TMidiInPort>& port) {
  const TAlsaPort* source = PortAt(FObserver.Sources(), index);
  if (source == nullptr)
    return MidiErrBadDeviceId;
  TMidiResult result = MidiOk;
  port = TAlsaInPort::Open(*FSequencer, source->Name, source->Address, std::move(callback), result);
  return result;
}

TMidiResult TAlsaMidiService::OpenOutput(int index, TMidiOutCallback callback,
                                         std::unique_ptr<TMidiOutPort>& port) {
  const TAlsaPort* destination = PortAt(FObserver.Destinations(), index);
  if (destination == nullptr)
    return MidiErrBadDeviceId;
  TMidiResult result = MidiOk;
  port = TAlsaOutPort::Open(*FSequencer, *destination, std::move(callback), result);
  return result;
}

TMidiResult TAlsaMidiService::InErrorText(TMidiResult code, std::string& text) const {
  return AlsaErrorText(code, text) ? MidiOk : TMidiService::InErrorText(code, text);
}

TMidiResult TAlsaMidiService::OutErrorText(TMidiResult code, std::string& text) const {
  return AlsaErrorText(code, text) ? MidiOk : TMidiService::OutErrorText(code, text);
}

void TAlsaMidiService::SetOnDevicesChanged(std::function<void()> handler) {
  FObserver.SetHandler(std::move(handler));
}

std::unique_ptr<TMidiService> CreateAlsaMidiService(std::string& failure) {
  return TAlsaMidiService::Create(failure);
}

} // namespace pelrow
