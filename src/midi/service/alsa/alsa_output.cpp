// Feeding an ALSA sequencer output.
#include "midi/service/alsa/alsa_output.h"

#include <algorithm>
#include <chrono>

namespace pelrow {

namespace {
constexpr auto IdleWait = std::chrono::microseconds(100'000);
constexpr auto FirstBackOff = std::chrono::microseconds(1000);
constexpr auto LastBackOff = std::chrono::microseconds(20'000);
} // namespace

TAlsaOutPort::TAlsaOutPort(TAlsaSequencer& sequencer, bool hardware, TMidiOutCallback callback)
    : FSequencer(sequencer), FHardware(hardware), FQueue(std::move(callback)) {}

std::unique_ptr<TAlsaOutPort> TAlsaOutPort::Open(TAlsaSequencer& sequencer,
                                                 const TAlsaPort& destination,
                                                 TMidiOutCallback callback, TMidiResult& result) {
  std::unique_ptr<TAlsaOutPort> port(
      new TAlsaOutPort(sequencer, destination.Hardware, std::move(callback)));
  // The encoder collects SysEx into events of at most one piece.
  if (snd_midi_event_new(PieceBytes, &port->FEncoder) < 0) {
    result = MidiErrNoMemory;
    return nullptr;
  }
  port->FPort = sequencer.OpenOutput(destination.Address);
  if (port->FPort < 0) {
    result = port->FPort == -ENOMEM ? MidiErrNoMemory : MidiErrNoDevice;
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
  if (FEncoder)
    snd_midi_event_free(FEncoder);
}

TMidiResult TAlsaOutPort::Reset() {
  FQueue.Reset();
  return MidiOk;
}

// A full sequencer is waited out with a growing pause; a reset or close ends the wait.
void TAlsaOutPort::Send(snd_seq_event_t& event) {
  snd_seq_ev_set_source(&event, FPort);
  snd_seq_ev_set_subs(&event);
  snd_seq_ev_set_direct(&event);
  auto backOff = FirstBackOff;
  while (!FSequencer.SendDirect(event)) {
    FQueue.Wait(backOff, false);
    if (FQueue.Interrupted())
      return;
    backOff = std::min(backOff * 2, LastBackOff);
  }
}

void TAlsaOutPort::Write(const TOrderedOutput::TPiece& piece) {
  long done = 0;
  while (done < long(piece.Count) && !FQueue.Interrupted()) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    const long used = snd_midi_event_encode(FEncoder, piece.Data + done, long(piece.Count) - done,
                                            &event);
    if (used <= 0)
      break;
    done += used;
    if (event.type != SND_SEQ_EVENT_NONE)
      Send(event);
  }
}

void TAlsaOutPort::Run() {
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset()) {
      snd_midi_event_reset_encode(FEncoder);
      continue;
    }
    TOrderedOutput::TPiece piece;
    if (!FQueue.NextPiece(PieceBytes, piece)) {
      FQueue.Wait(IdleWait, true);
      continue;
    }
    Write(piece);
    FQueue.PieceSent(piece);
    if (FHardware)
      FQueue.Wait(std::chrono::microseconds(piece.Count * WireMicrosecondsPerByte), false);
    if (piece.EndsBuffer)
      FQueue.CompleteOldest();
  }
}

} // namespace pelrow
