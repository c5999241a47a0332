// A loopback output: short messages reach the loopback input of the same name at
// once, long buffers through the output's own writer thread, which completes them.
#pragma once

#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/midi_output_queue.h"

#include <memory>
#include <string>

namespace pelrow {

class TLoopbackOutPort final : public TMidiOutPort {
public:
  TLoopbackOutPort(std::shared_ptr<TLoopbackHub> hub, std::string name,
                   TMidiOutCallback completion);

  TMidiResult ShortMsg(uint32_t packed) override;
  TMidiResult LongMsg(TMidiBuffer& buffer) override;
  TMidiResult Reset() override;

private:
  const std::shared_ptr<TLoopbackHub> FHub;
  const std::string FName;
  TMidiOutputQueue FQueue; // last: its thread stops before the members it uses go
};

} // namespace pelrow
