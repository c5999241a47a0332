// Loopback input port.
#include "midi/service/loopback/loopback_input.h"

namespace pelrow {

TLoopbackInPort::TLoopbackInPort(std::shared_ptr<TLoopbackHub> hub, std::string name,
                                 TMidiInCallback callback)
    : TMidiInputStream(std::move(callback)), FHub(std::move(hub)), FName(std::move(name)) {}

TLoopbackInPort::~TLoopbackInPort() {
  // No sender may reach this port once its stream starts to go.
  if (FAttached)
    FHub->Detach(FName, *this);
  Shutdown();
}

TMidiResult TLoopbackInPort::Attach() {
  const TMidiResult result = FHub->Attach(FName, *this);
  FAttached = result == MidiOk;
  return result;
}

} // namespace pelrow
