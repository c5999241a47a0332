// Feeding an ALSA sequencer output.
#include "midi/service/alsa/alsa_output.h"

#include "support/trace.h"

#include <chrono>

namespace pelrow {

namespace {
constexpr auto IdleWait = std::chrono::microseconds(100'000);
} // namespace

TAlsaOutPort::TAlsaOutPort(TAlsaSequencer& sequencer, const TAlsaPort& destination,
                           TMidiOutCallback callback)
    : TOrderedOutPort(std::move(callback)), FSequencer(sequencer), FHardware(destination.Hardware),
      FLink(destination.Address) {}

std::unique_ptr<TAlsaOutPort> TAlsaOutPort::Open(TAlsaSequencer& sequencer,
                                                 const TAlsaPort& destination,
                                                 TMidiOutCallback callback, TMidiResult& result) {
  std::unique_ptr<TAlsaOutPort> port(new TAlsaOutPort(sequencer, destination, std::move(callback)));
  port->FPort = sequencer.OpenOutput(destination.Name, port->FLink);
  if (port->FPort < 0) {
    result = AlsaOpenResult(port->FPort);
    return nullptr;
  }
  port->FEvents = std::make_unique<TAlsaEventWriter>(port->FPort, destination.Address);
  if (!port->FEvents->Ready()) {
    result = MidiErrNoMemory;
    return nullptr;
  }
  port->FWriter = std::thread([p = port.get()] { p->Run(); });
  result = MidiOk;
  return port;
}

TAlsaOutPort::~TAlsaOutPort() {
  if (FWriter.joinable()) {
    FQueue.Reset();
    FQueue.Quit();
    FWriter.join();
  }
  FQueue.CompleteRemaining();
  if (FPort >= 0)
    FSequencer.CloseOutput(FPort);
}

// A full receiver is waited out; a reset or close ends the wait.
void TAlsaOutPort::Send(snd_seq_event_t& event) {
  int result = 0;
  const TAlsaDelivery delivery = DeliverEvent([&] { return result = FSequencer.SendDirect(event); },
                                              [&](std::chrono::microseconds pause) {
                                                FQueue.Wait(pause, false);
                                                return !FQueue.Interrupted();
                                              });
  if (delivery == TAlsaDelivery::Sent)
    return;
  if (delivery == TAlsaDelivery::GaveUp) {
    FRefused = true; // dropped for a reset or close
    return;
  }
  if (!FRefused)
    Trace(std::string("ALSA: the receiver refused an event: ") + snd_strerror(result));
  FRefused = true;
}

void TAlsaOutPort::Write(const TOrderedOutput::TPiece& piece) {
  FEvents->Write(piece.Data, piece.Count, [this](snd_seq_event_t& event) {
    if (FQueue.Interrupted())
      FRefused = true; // dropped for a reset or close
    else
      Send(event);
  });
}

void TAlsaOutPort::Run() {
  const auto send = [this](snd_seq_event_t& event) { Send(event); };
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset()) {
      // What the last buffer left of an incomplete message still goes out as it is.
      FEvents->Flush(send);
      FEvents->Reset();
      FRefused = false;
      continue;
    }
    TOrderedOutput::TPiece piece;
    if (!FQueue.NextPiece(PieceBytes, piece)) {
      // A short message split over two long sends waits for its rest until the
      // output has been quiet for a whole idle wait.
      if (FIdleRounds < 2 && ++FIdleRounds == 2)
        FEvents->Flush(send);
      FQueue.Wait(IdleWait, true);
      continue;
    }
    FIdleRounds = 0;
    FEvents->SetDestination(FLink.Get());
    Write(piece);
    if (piece.Flush)
      FEvents->Flush(send);
    FQueue.PieceSent(piece, FRefused);
    if (FHardware)
      FQueue.Wait(std::chrono::microseconds(piece.Count * WireMicrosecondsPerByte), false);
    if (piece.EndsBuffer)
      FQueue.CompleteOldest(FRefused);
    if (piece.EndsBuffer || !piece.FromBuffer)
      FRefused = false;
  }
}

} // namespace pelrow
