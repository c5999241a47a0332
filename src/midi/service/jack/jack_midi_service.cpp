// The JACK backend's device list, open calls and reconnection.
#include "midi/service/jack/jack_midi_service.h"

#include "midi/service/jack/jack_input.h"
#include "midi/service/jack/jack_output.h"
#include "support/trace.h"

namespace pelrow {

namespace {
constexpr const char* TextServerGone = "The JACK server has stopped.";
constexpr const char* TextClientDropped = "The JACK server has dropped this program's client.";
constexpr const char* TextNotResponding = "The JACK server is not responding.";
constexpr const char* TextConnectRefused = "The JACK server refused the connection to this port.";
constexpr const char* TextPortRefused = "The JACK server refused to make a port for this program.";

bool JackErrorText(TMidiResult code, std::string& text) {
  switch (code) {
  case JackErrServerGone:
    text = TextServerGone;
    return true;
  case JackErrClientDropped:
    text = TextClientDropped;
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
  return TJackClient::Open(
      MidiClientSettings().Name.c_str(), [this] { ClientNotice(); }, failure);
}

void TJackMidiService::ClientNotice() {
  FObserver.PortsChanged();
  FWake.notify_all();
}

std::unique_ptr<TJackMidiService> TJackMidiService::Create(std::string& failure, bool awaitServer) {
  std::unique_ptr<TJackMidiService> service(new TJackMidiService());
  service->FClient = service->OpenClient(failure);
  if (!service->FClient && !awaitServer)
    return nullptr;
  service->FCurrent = service->FClient;
  service->FReconnect = std::thread([p = service.get()] { p->Reconnect(); });
  return service;
}

// The clients are orphaned first, so that no JACK callback reaches this service
// afterwards, also from a client that ports still open keep, or one left aside
// because its server does not answer.
TJackMidiService::~TJackMidiService() {
  {
    std::lock_guard lock(FLock);
    FQuit = true;
  }
  FWake.notify_all();
  if (FReconnect.joinable())
    FReconnect.join();
  for (const TJackClientPtr& client : {FClient, FNewClient})
    if (client)
      client->Orphan();
  FNewClient.reset();
  FCurrent.reset();
  FClient.reset();
}

// Reconnect thread: the client of a server that went away is closed as soon as
// that is seen, and a new one is tried every few seconds after; the UI thread
// takes it over at its next count. libjack allows the new one only once no client
// of the old server is open.
void TJackMidiService::Reconnect() {
  auto nextTry = std::chrono::steady_clock::now() + RetryInterval;
  std::unique_lock lock(FLock);
  while (!FQuit) {
    const bool down = !FNewClient && (!FCurrent || !FCurrent->Alive());
    if (down)
      FWake.wait_until(lock, nextTry);
    else
      FWake.wait_for(lock, RetryInterval);
    if (FQuit)
      break;
    TJackClientPtr current = FCurrent;
    const bool wanted = !FNewClient && (!current || !current->Alive());
    lock.unlock();
    TJackClient::ReapAbandoned();
    if (current && !current->Alive())
      current->CloseAfterServerGone();
    current.reset();
    TJackClientPtr client;
    if (wanted && std::chrono::steady_clock::now() >= nextTry) {
      nextTry = std::chrono::steady_clock::now() + RetryInterval;
      client = TryServer();
    }
    lock.lock();
    if (!client)
      continue;
    FNewClient = std::move(client);
    lock.unlock();
    FObserver.PortsChanged();
    lock.lock();
  }
}

// A new client, when a server answers and runs its cycles.
TJackClientPtr TJackMidiService::TryServer() {
  if (!TJackClient::NoneOpen())
    return nullptr;
  std::string failure;
  TJackClientPtr client = OpenClient(failure);
  if (client && !client->WaitForCycles()) {
    Trace("JACK: a server answers but runs no cycles");
    client->Orphan();
    client.reset();
  }
  if (client)
    Trace("JACK: the server is back");
  return client;
}

// UI thread, when the devices are counted: takes over a new client and reads the
// port lists again if they changed.
void TJackMidiService::Count() {
  {
    std::lock_guard lock(FLock);
    if (FNewClient) {
      FClient = std::move(FNewClient);
      FCurrent = FClient;
      FObserver.Forget();
    }
  }
  if (FClient)
    FClient->WithHandle([&](jack_client_t* handle) { FObserver.RefreshIfChanged(handle); });
}

bool TJackMidiService::Usable() const {
  return FClient && FClient->Usable();
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

TMidiResult TJackMidiService::Failure() const {
  return FClient ? FClient->Failure() : JackErrServerGone;
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

std::unique_ptr<TMidiService> CreateJackMidiServiceAwaitingServer() {
  std::string failure;
  return TJackMidiService::Create(failure, true);
}

} // namespace pelrow
