// Opening and closing a JACK MIDI input.
#include "midi/service/jack/jack_input.h"

#include <cerrno>

namespace pelrow {

TJackInPort::TJackInPort(TJackClientPtr client, TJackInSlot& slot, TMidiInCallback callback)
    : TMidiInputStream(std::move(callback)), FClient(std::move(client)), FSlot(slot) {}

std::unique_ptr<TJackInPort> TJackInPort::Open(const TJackClientPtr& client,
                                               const std::string& source, TMidiInCallback callback,
                                               TMidiResult& result) {
  TJackInSlot* slot = client->ClaimInSlot();
  if (slot == nullptr) {
    result = MidiErrAllocated;
    return nullptr;
  }
  std::unique_ptr<TJackInPort> port(new TJackInPort(client, *slot, std::move(callback)));
  jack_port_t* own = client->RegisterPort(true);
  if (own == nullptr) {
    result = client->Usable() ? JackErrPortRefused : client->Failure();
    return nullptr; // the destructor gives the slot back
  }
  client->PublishIn(*slot, own, port.get());
  if (MidiClientSettings().ListenAtConnect)
    port->Start();
  const int connected = client->Connect(source, client->PortName(own));
  if (connected != 0 && connected != EEXIST) {
    result = client->ConnectFailure(source);
    return nullptr;
  }
  client->SetPeer(*slot, source);
  client->WaitUntilConnected();
  result = MidiOk;
  return port;
}

TMidiResult TJackInPort::Stop() {
  FClient->FlushIn(FSlot);
  return TMidiInputStream::Stop();
}

// The port leaves the process callback and the service thread before the stream
// hands back its buffers.
TJackInPort::~TJackInPort() {
  FClient->ReleaseIn(FSlot);
  Shutdown();
}

} // namespace pelrow
