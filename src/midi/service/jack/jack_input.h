// An open JACK MIDI input: a port of ours connected from the chosen source port.
#pragma once

#include "midi/service/jack/jack_helpers.h"
#include "midi/service/midi_input_stream.h"
#include "midi/service/midi_service.h"

#include <memory>
#include <string>

namespace pelrow {

class TJackInPort final : public TMidiInputStream {
public:
  // Registers and connects the port; on failure result is set and port stays null.
  static std::unique_ptr<TJackInPort> Open(const TJackClientPtr& client, const std::string& source,
                                           TMidiInCallback callback, TMidiResult& result);
  ~TJackInPort() override;
  // What arrived before, also what waits for a late xrun mark, is handed on first.
  TMidiResult Stop() override;
  int64_t RunMs() const override { return int64_t(FClient->RunMs()); }

private:
  TJackInPort(TJackClientPtr client, TJackInSlot& slot, TMidiInCallback callback);

  TJackClientPtr FClient; // kept while the port is open, also past a reconnect
  TJackInSlot& FSlot;
};

} // namespace pelrow
