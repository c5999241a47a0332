// An open ALSA sequencer output: a port of ours subscribed to the chosen port (the
// subscription makes a hardware port open its MIDI cable) and a writer thread that
// turns the output's bytes into sequencer events addressed to that port. To a
// hardware port the kernel copies into a 4 KB raw MIDI buffer and drops what
// overflows it, so there long data goes in pieces of at most 256 bytes, paced at
// the wire rate, and completes once its last piece has had time to drain (used
// where the port's raw MIDI device is taken by another program).
#pragma once

#include "midi/service/alsa/alsa_device_observer.h"
#include "midi/service/alsa/alsa_event_writer.h"
#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/midi_service.h"
#include "midi/service/ordered_output.h"

#include <memory>
#include <thread>

namespace pelrow {

class TAlsaOutPort final : public TOrderedOutPort {
public:
  static constexpr uint32_t PieceBytes = 256;
  static constexpr uint32_t WireMicrosecondsPerByte = 320;

  static std::unique_ptr<TAlsaOutPort> Open(TAlsaSequencer& sequencer, const TAlsaPort& destination,
                                            TMidiOutCallback callback, TMidiResult& result);
  ~TAlsaOutPort() override;

private:
  TAlsaOutPort(TAlsaSequencer& sequencer, const TAlsaPort& destination, TMidiOutCallback callback);
  void Run();
  void Write(const TOrderedOutput::TPiece& piece);
  void Send(snd_seq_event_t& event);

  TAlsaSequencer& FSequencer;
  const bool FHardware;
  TAlsaOutLink FLink;
  int FPort = -1;
  std::unique_ptr<TAlsaEventWriter> FEvents; // the writer thread's only
  bool FRefused = false; // an event of the buffer being written was refused for good
  int FIdleRounds = 0;   // idle waits in a row without anything to write
  std::thread FWriter;
};

} // namespace pelrow
