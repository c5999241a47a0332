// A loopback input: receives what is sent on the loopback output of the same name,
// or what a test injects as a device would send it.
#pragma once

#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/midi_input_stream.h"

#include <memory>
#include <string>

namespace pelrow {

class TLoopbackInPort final : public TMidiInputStream {
public:
  TLoopbackInPort(std::shared_ptr<TLoopbackHub> hub, std::string name, TMidiInCallback callback);
  ~TLoopbackInPort() override;

  // Attaches the port to its name; MidiErrAllocated when that input is open already.
  TMidiResult Attach();

private:
  const std::shared_ptr<TLoopbackHub> FHub;
  const std::string FName;
  bool FAttached = false;
};

} // namespace pelrow
