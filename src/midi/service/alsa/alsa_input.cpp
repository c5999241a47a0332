// Opening and closing an ALSA sequencer input.
#include "midi/service/alsa/alsa_input.h"

#include "support/clock.h"
#include "support/trace.h"

namespace pelrow {

TAlsaInPort::TAlsaInPort(TAlsaSequencer& sequencer, TMidiInCallback callback)
    : TMidiInputStream(std::move(callback)), FSequencer(sequencer) {}

std::unique_ptr<TAlsaInPort> TAlsaInPort::Open(TAlsaSequencer& sequencer,
                                               const std::string& sourceName,
                                               const TAlsaAddress& source, TMidiInCallback callback,
                                               TMidiResult& result, TRawMidiOverruns overruns) {
  std::unique_ptr<TAlsaInPort> port(new TAlsaInPort(sequencer, std::move(callback)));
  port->FOverruns = std::move(overruns);
  if (MidiClientSettings().ListenAtConnect)
    port->Start();
  port->FPort = sequencer.OpenInput(sourceName, source, *port);
  if (port->FPort < 0) {
    result = AlsaOpenResult(port->FPort);
    return nullptr;
  }
  result = MidiOk;
  return port;
}

TMidiResult TAlsaInPort::Start() {
  FOverrunsAtStart = FOverruns.Read();
  return TMidiInputStream::Start();
}

// Reported where the receive ends, before the stream stops taking notices.
TMidiResult TAlsaInPort::Stop() {
  if (const int64_t now = FOverruns.Read(); FOverrunsAtStart >= 0 && now > FOverrunsAtStart) {
    Trace("ALSA: the hardware input dropped " + std::to_string(now - FOverrunsAtStart) +
          " bytes before the sequencer read them");
    FeedInterrupted(TimeGetTime());
  }
  FOverrunsAtStart = -1;
  return TMidiInputStream::Stop();
}

// The reader stops feeding this port before the stream hands back its buffers.
TAlsaInPort::~TAlsaInPort() {
  if (FPort >= 0)
    FSequencer.CloseInput(FPort);
  Shutdown();
}

} // namespace pelrow
