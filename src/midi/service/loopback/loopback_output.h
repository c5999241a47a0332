// A loopback output: what is sent reaches the loopback input of the same name in
// the order it was sent, short and long messages alike, through the output's own
// writer thread, which also completes the long buffers (marked failed when the
// output was refused or unplugged while they waited).
#pragma once

#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/ordered_output.h"

#include <memory>
#include <string>
#include <thread>

namespace pelrow {

class TLoopbackOutPort final : public TOrderedOutPort {
public:
  TLoopbackOutPort(std::shared_ptr<TLoopbackHub> hub, std::string name,
                   TMidiOutCallback completion);
  ~TLoopbackOutPort() override;
  TLoopbackOutPort(const TLoopbackOutPort&) = delete;
  TLoopbackOutPort& operator=(const TLoopbackOutPort&) = delete;

  TMidiResult ShortMsg(uint32_t packed) override;
  TMidiResult LongMsg(TMidiBuffer& buffer) override;

private:
  void Run();
  // False when the output refused the piece for good.
  bool Write(const TOrderedOutput::TPiece& piece);

  const std::shared_ptr<TLoopbackHub> FHub;
  const std::string FName;
  std::thread FWriter; // last: it starts once everything it uses exists
};

} // namespace pelrow
