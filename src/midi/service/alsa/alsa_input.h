// An open ALSA sequencer input: a port of ours subscribed to the chosen port. For
// a hardware port the kernel's count of bytes its card's input dropped is watched
// while the input is started: a rise is that much input lost, fed as an overrun
// of the device's input near where it happened.
#pragma once

#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/alsa/alsa_raw_midi.h"
#include "midi/service/midi_input_stream.h"

#include <memory>
#include <mutex>

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
  void FeedOverruns(uint32_t nowMs);

  TAlsaSequencer& FSequencer;
  int FPort = -1;
  TRawMidiOverruns FOverruns;
  // The two below: the reader thread looks at the count while the caller starts and stops.
  std::mutex FOverrunLock;
  bool FWatching = false;
  int64_t FOverrunsSeen = -1; // the count at the last look; -1 when it could not be read
};

} // namespace pelrow
