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
  std::function<void(uint32_t)> watch;
  if (port->FOverruns.Exists())
    watch = [p = port.get()](uint32_t nowMs) {
      std::lock_guard lock(p->FOverrunLock);
      p->FeedOverruns(nowMs);
    };
  port->FPort = sequencer.OpenInput(sourceName, source, *port, std::move(watch));
  if (port->FPort < 0) {
    result = AlsaOpenResult(port->FPort);
    return nullptr;
  }
  result = MidiOk;
  return port;
}

// FOverrunLock held: a rise of the count since the last look is input the card
// dropped before the sequencer read it, fed here, behind what arrived before the
// look. The kernel starts the count again from 0 when the device's input opens
// anew; a count that could not be read before gives no rise.
void TAlsaInPort::FeedOverruns(uint32_t nowMs) {
  if (!FWatching)
    return;
  const int64_t now = FOverruns.Read();
  const int64_t rise = FOverrunsSeen < 0 || now < 0 ? 0
                       : now >= FOverrunsSeen       ? now - FOverrunsSeen
                                                    : now;
  FOverrunsSeen = now;
  if (rise <= 0)
    return;
  Trace("ALSA: the hardware input dropped " + std::to_string(rise) +
        " bytes before the sequencer read them");
  FeedOverrun(nowMs, uint64_t(rise));
}

// An input started after the sequencer's reader stopped hears of it at once.
TMidiResult TAlsaInPort::Start() {
  {
    std::lock_guard lock(FOverrunLock);
    if (!FWatching)
      FOverrunsSeen = FOverruns.Read();
    FWatching = true;
  }
  const TMidiResult result = TMidiInputStream::Start();
  if (const TMidiResult failure = FSequencer.ReaderFailure(); failure != MidiOk)
    FeedFailed(failure, TimeGetTime());
  return result;
}

// The last look is taken where the receive ends, before the stream stops taking
// notices.
TMidiResult TAlsaInPort::Stop() {
  {
    std::lock_guard lock(FOverrunLock);
    FeedOverruns(TimeGetTime());
    FWatching = false;
  }
  return TMidiInputStream::Stop();
}

// The reader stops feeding this port before the stream hands back its buffers.
TAlsaInPort::~TAlsaInPort() {
  if (FPort >= 0)
    FSequencer.CloseInput(FPort);
  Shutdown();
}

} // namespace pelrow
