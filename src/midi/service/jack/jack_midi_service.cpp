// The JACK backend's device list and open calls.
#include "midi/service/jack/jack_midi_service.h"

#include "midi/service/jack/jack_input.h"
#include "midi/service/jack/jack_output.h"

namespace pelrow {

std::unique_ptr<TJackMidiService> TJackMidiService::Create(std::string& failure) {
  std::unique_ptr<TJackMidiService> service(new TJackMidiService());
  TJackDeviceObserver& observer = service->FObserver;
  service->FClient = TJackClient::Open(
      ClientName, [&observer] { observer.PortsChanged(); }, failure);
  if (!service->FClient)
    return nullptr;
  return service;
}

// The client goes first, so that no JACK callback reaches the observer afterwards.
TJackMidiService::~TJackMidiService() {
  FClient.reset();
}

const std::vector<std::string>& TJackMidiService::Names(bool inputs) const {
  static const std::vector<std::string> none;
  if (!FClient->Alive())
    return none;
  return inputs ? FObserver.Sources() : FObserver.Destinations();
}

int TJackMidiService::InputCount() {
  if (FClient->Alive())
    FObserver.RefreshIfChanged(FClient->Handle());
  return int(Names(true).size());
}

int TJackMidiService::OutputCount() {
  if (FClient->Alive())
    FObserver.RefreshIfChanged(FClient->Handle());
  return int(Names(false).size());
}

namespace {
TMidiResult NameAt(const std::vector<std::string>& names, int index, std::string& name) {
  if (index < 0 || size_t(index) >= names.size())
    return MidiErrBadDeviceId;
  name = names[size_t(index)];
  return MidiOk;
}
} // namespace

TMidiResult TJackMidiService::InputName(int index, std::string& name) {
  return NameAt(Names(true), index, name);
}

TMidiResult TJackMidiService::OutputName(int index, std::string& name) {
  return NameAt(Names(false), index, name);
}

TMidiResult TJackMidiService::OpenInput(int index, TMidiInCallback callback,
                                        std::unique_ptr<TMidiInPort>& port) {
  std::string source;
  if (TMidiResult result = InputName(index, source); result != MidiOk)
    return result;
  TMidiResult result = MidiOk;
  port = TJackInPort::Open(*FClient, source, std::move(callback), result);
  return result;
}

TMidiResult TJackMidiService::OpenOutput(int index, TMidiOutCallback callback,
                                         std::unique_ptr<TMidiOutPort>& port) {
  std::string destination;
  if (TMidiResult result = OutputName(index, destination); result != MidiOk)
    return result;
  TMidiResult result = MidiOk;
  port = TJackOutPort::Open(*FClient, destination, std::move(callback), result);
  return result;
}

void TJackMidiService::SetOnDevicesChanged(std::function<void()> handler) {
  FObserver.SetHandler(std::move(handler));
}

std::unique_ptr<TMidiService> CreateJackMidiService(std::string& failure) {
  return TJackMidiService::Create(failure);
}

} // namespace pelrow
