// An open ALSA sequencer input: a port of ours subscribed to the chosen port.
#pragma once

#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/midi_input_stream.h"

#include <memory>

namespace pelrow {

class TAlsaInPort final : public TMidiInputStream {
public:
  static std::unique_ptr<TAlsaInPort> Open(TAlsaSequencer& sequencer, const std::string& sourceName,
                                           const TAlsaAddress& source, TMidiInCallback callback,
                                           TMidiResult& result);
  ~TAlsaInPort() override;

private:
  TAlsaInPort(TAlsaSequencer& sequencer, TMidiInCallback callback);

  TAlsaSequencer& FSequencer;
  int FPort = -1;
};

} // namespace pelrow
