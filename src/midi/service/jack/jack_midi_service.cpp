// The JACK backend's device list, open calls and reconnection.
#include "midi/service/jack/jack_midi_service.h"

#include "midi/service/jack/jack_input.h"
#include "midi/service/jack/jack_output.h"
#include "support/trace.h"

namespace pelrow {

namespace {
constexpr const char* TextServerGone = "The JACK server has stopped.";
constexpr const char* TextNotResponding = "The JACK server is not responding.";
constexpr const char* TextConnectRefused = "The JACK server refused the connection to this port.";
constexpr const char* TextPortRefused = "The JACK server refused to make a port for this program.";

bool JackErrorText(TMidiResult code, std::string& text) {
  switch (code) {
  case JackErrServerGone:
    text = TextServerGone;
    return true;
  case JackErrNotResponding:
    text = TextNotResponding;
    return true;
  case JackErrConnectRefused:
    text = TextConnectRefused;
    return true;
  case JackErrPortRefused:
    text = TextPortRefused;
    return true;
  default:
    return CommonMidiErrorText(code, text);
  }
}
} // namespace

TJackClientPtr TJackMidiService::OpenClient(std::string& failure) {
  TJackDeviceObserver& observer = FObserver;
  return TJackClient::Open(
      ClientName, [&observer] { observer.PortsChanged(); }, failure);
}

std::unique_ptr<TJackMidiService> TJackMidiService::Create(std::string& failure) {
  std::unique_ptr<TJackMidiService> service(new TJackMidiService());
  service->FClient = service->OpenClient(failure);
  if (!service->FClient)
    return nullptr;
  service->FReconnect = std::thread([p = service.get()] { p->Reconnect(); });
  return service;
}

// The clients go first, so that no JACK callback reaches the observer afterwards.
// Ports still open keep their client until they close.
TJackMidiService::~TJackMidiService() {
  {
    std::lock_guard lock(FLock);
    FQuit = true;
  }
  FWake.notify_all();
  if (FReconnect.joinable())
    FReconnect.join();
  FNewClient.reset();
  FClient.reset();
}

// Reconnect thread: once the server has gone away, a new client is tried every
// few seconds; the UI thread takes it over at its next count.
void TJackMidiService::Reconnect() {
  std::unique_lock lock(FLock);
  while (!FQuit) {
    FWake.wait_for(lock, RetryInterval);
    if (FQuit || !FClientDown || FNewClient)
      continue;
    lock.unlock();
    std::string failure;
    TJackClientPtr client = OpenClient(failure);
    // Only a server that runs its cycles is back.
    if (client && !client->WaitForCycles()) {
      Trace("JACK: a server answers but runs no cycles");
      client.reset();
    }
    lock.lock();
    if (!client)
      continue;
    Trace("JACK: the server is back");
    FNewClient = std::move(client);
    lock.unlock();
    FObserver.PortsChanged();
    lock.lock();
  }
}

// UI thread, when the devices are counted: takes over a new client and reads the
// port lists again if they changed.
void TJackMidiService::Count() {
  {
    std::lock_guard lock(FLock);
    if (FNewClient) {
      FClient = std::move(FNewClient);
      FClientDown = false;
      FObserver.Forget();
    } else if (FClient && !FClient->Alive()) {
      // The dead client is closed (once its open ports are closed too) before a
      // new one is tried: JACK keeps per-process state while any client is open.
      FClient.reset();
      FClientDown = true;
    }
  }
  if (Usable())
    FObserver.RefreshIfChanged(FClient->Handle());
}

bool TJackMidiService::Usable() const {
  return FClient && FClient->Usable();
}

TMidiResult TJackMidiService::Failure() const {
  return FClient ? FClient->Failure() : JackErrServerGone;
}

const std::vector<std::string>& TJackMidiService::Names(bool inputs) const {
  static const std::vector<std::string> none;
  if (!Usable())
    return none;
  return inputs ? FObserver.Sources() : FObserver.Destinations();
}

int TJackMidiService::InputCount() {
  Count();
  return int(Names(true).size());
}

int TJackMidiService::OutputCount() {
  Count();
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
    return Usable() ? result : Failure();
  TMidiResult result = MidiOk;
  port = TJackInPort::Open(FClient, source, std::move(callback), result);
  return result;
}

TMidiResult TJackMidiService::OpenOutput(int index, TMidiOutCallback callback,
                                         std::unique_ptr<TMidiOutPort>& port) {
  std::string destination;
  if (TMidiResult result = OutputName(index, destination); result != MidiOk)
    return Usable() ? result : Failure();
  TMidiResult result = MidiOk;
  port = TJackOutPort::Open(FClient, destination, std::move(callback), result);
  return result;
}

TMidiResult TJackMidiService::InErrorText(TMidiResult code, std::string& text) const {
  return JackErrorText(code, text) ? MidiOk : MidiErrBadDeviceId;
}

TMidiResult TJackMidiService::OutErrorText(TMidiResult code, std::string& text) const {
  return JackErrorText(code, text) ? MidiOk : MidiErrBadDeviceId;
}

void TJackMidiService::SetOnDevicesChanged(std::function<void()> handler) {
  FObserver.SetHandler(std::move(handler));
}

std::unique_ptr<TMidiService> CreateJackMidiService(std::string& failure) {
  return TJackMidiService::Create(failure);
}

} // namespace pelrow
