// An open JACK MIDI output: a port of ours connected to the chosen destination.
// JACK readers take each event on its own, so a writer thread turns what is sent
// into whole messages before they reach the port's ring: running status expanded,
// a SysEx joined over the long buffers that carry it until its F7 and written as
// one event (in pieces of the port's maximum event size only when it is larger),
// real-time bytes inside it as events of their own. The process callback writes as
// many events per period as the port buffer takes. A long buffer completes once all
// its bytes have been written into a period or copied into a SysEx still waiting
// for its end. What is held back waits for its rest however long that takes, and
// goes out as it is on a flush, a reset or close: no timer ever cuts a message.
#pragma once

#include "midi/service/jack/jack_helpers.h"
#include "midi/service/midi_message_splitter.h"
#include "midi/service/midi_service.h"
#include "midi/service/ordered_output.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {

class TJackOutPort final : public TOrderedOutPort {
public:
  // Bytes taken from the send queue at a time.
  static constexpr uint32_t PieceBytes = 1024;

  static std::unique_ptr<TJackOutPort> Open(const TJackClientPtr& client,
                                            const std::string& destination,
                                            TMidiOutCallback callback, TMidiResult& result);
  ~TJackOutPort() override;

  TMidiResult ShortMsg(uint32_t packed) override;
  TMidiResult LongMsg(TMidiBuffer& buffer) override;
  TMidiResult Flush() override;
  uint32_t WholeMessageLimit() const override { return MaxEventBytes(); }
  uint32_t Interruptions() const override { return FClient->Xruns(); }

private:
  TJackOutPort(TJackClientPtr client, TJackOutSlot& slot, TMidiOutCallback callback);
  void Run();
  TMidiResult Refusal() const;
  void CollectCompletions(uint32_t generation);
  void FailInFlight();
  void FillRing();
  void Cancel();
  void WritePart(const TMidiPart& part);
  bool WriteRecord(const uint8_t* data, uint32_t count, bool endsBuffer);
  void WriteHeld();
  void WaitUntilWritten();
  uint32_t MaxEventBytes() const;

  TJackClientPtr FClient; // kept while the port is open, also past a reconnect
  TJackOutSlot& FSlot;
  uint32_t FGeneration = 0; // writer thread's copy of the slot's generation
  // Writer thread only.
  TMidiMessageSplitter FSplitter;
  std::vector<uint8_t> FSysEx; // the SysEx being joined
  uint64_t FStrayBytes = 0;
  std::thread FWriter;
};

} // namespace pelrow
