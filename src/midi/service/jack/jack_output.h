// An open JACK MIDI output: a port of ours connected to the chosen destination.
// A writer thread feeds the port's ring; long buffers go out in pieces, as many
// per period as the port buffer takes, and complete when their last piece has
// been written into a period.
#pragma once

#include "midi/service/jack/jack_helpers.h"
#include "midi/service/midi_service.h"
#include "midi/service/ordered_output.h"

#include <memory>
#include <string>
#include <thread>

namespace pelrow {

class TJackOutPort final : public TMidiOutPort {
public:
  // Bytes of a long buffer per JACK event.
  static constexpr uint32_t PieceBytes = 1024;

  static std::unique_ptr<TJackOutPort> Open(TJackClient& client, const std::string& destination,
                                            TMidiOutCallback callback, TMidiResult& result);
  ~TJackOutPort() override;

  TMidiResult ShortMsg(uint32_t packed) override;
  TMidiResult LongMsg(TMidiBuffer& buffer) override;
  TMidiResult Reset() override;

private:
  TJackOutPort(TJackClient& client, TJackOutSlot& slot, TMidiOutCallback callback);
  void Run();
  void CollectCompletions();
  void FillRing();
  void Cancel();

  TJackClient& FClient;
  TJackOutSlot& FSlot;
  TOrderedOutput FQueue;
  uint32_t FGeneration = 0; // writer thread's copy of the slot's generation
  std::thread FWriter;
};

} // namespace pelrow
