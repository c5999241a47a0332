// Opening and closing an ALSA sequencer input.
#include "midi/service/alsa/alsa_input.h"

namespace pelrow {

TAlsaInPort::TAlsaInPort(TAlsaSequencer& sequencer, TMidiInCallback callback)
    : TMidiInputStream(std::move(callback)), FSequencer(sequencer) {}

std::unique_ptr<TAlsaInPort> TAlsaInPort::Open(TAlsaSequencer& sequencer,
                                               const std::string& sourceName,
                                               const TAlsaAddress& source, TMidiInCallback callback,
                                               TMidiResult& result) {
  std::unique_ptr<TAlsaInPort> port(new TAlsaInPort(sequencer, std::move(callback)));
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

// The reader stops feeding this port before the stream hands back its buffers.
TAlsaInPort::~TAlsaInPort() {
  if (FPort >= 0)
    FSequencer.CloseInput(FPort);
  Shutdown();
}

} // namespace pelrow
