// An open ALSA sequencer input: a port of ours subscribed to the chosen port. For
// a hardware port the kernel's count of dropped input is read when the input
// starts and stops; a rise is reported as input that may be missing.
#pragma once

#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/alsa/alsa_raw_midi.h"
#include "midi/service/midi_input_stream.h"

#include <memory>

namespace pelrow {

class TAlsaInPort final : public TMidiInputStream {
public:
  static std::unique_ptr<TAlsaInPort> Open(TAlsaSequencer& sequencer, const std::string& sourceName,
                                           const TAlsaAddress& source, TMidiInCallback callback,
                                           TMidiResult& result,
                                           TRawMidiOverruns overruns = TRawMidiOverruns());
  ~TAlsaInPort() override;

  TMidiResult Start() override;
  TMidiResult Stop() override;

private:
  TAlsaInPort(TAlsaSequencer& sequencer, TMidiInCallback callback);

  TAlsaSequencer& FSequencer;
  int FPort = -1;
  TRawMidiOverruns FOverruns;
  int64_t FOverrunsAtStart = -1;
};

} // namespace pelrow
