// Loopback output port.
#include "midi/service/loopback/loopback_output.h"

#include <chrono>
#include <limits>

namespace pelrow {

namespace {
constexpr auto IdleWait = std::chrono::milliseconds(100);
// A long buffer reaches the input in one piece, as one write of a device would.
constexpr uint32_t WholeBuffer = std::numeric_limits<uint32_t>::max();
} // namespace

TLoopbackOutPort::TLoopbackOutPort(std::shared_ptr<TLoopbackHub> hub, std::string name,
                                   TMidiOutCallback completion)
    : TOrderedOutPort(std::move(completion)), FHub(std::move(hub)), FName(std::move(name)),
      FWriter([this] { Run(); }) {}

TLoopbackOutPort::~TLoopbackOutPort() {
  FQueue.Reset();
  FQueue.Quit();
  FWriter.join();
  FQueue.CompleteRemaining();
}

TMidiResult TLoopbackOutPort::ShortMsg(uint32_t packed) {
  if (const TMidiResult state = FHub->SendState(FName); state != MidiOk)
    return state;
  return FQueue.PushShort(packed);
}

TMidiResult TLoopbackOutPort::LongMsg(TMidiBuffer& buffer) {
  if (const TMidiResult state = FHub->SendState(FName); state != MidiOk)
    return state;
  return FQueue.PushLong(buffer);
}

bool TLoopbackOutPort::Write(const TOrderedOutput::TPiece& piece) {
  FHub->WaitWhileStalled(FName, [this] { return FQueue.Interrupted(); });
  if (FQueue.Interrupted())
    return false; // dropped for a reset or close: it never left
  // Refused or unplugged while it waited: it never leaves, and its owner must know.
  if (FHub->SendState(FName) != MidiOk)
    return false;
  FHub->Deliver(FName, piece.Data, piece.Count);
  return true;
}

void TLoopbackOutPort::Run() {
  while (!FQueue.Quitting()) {
    if (FQueue.ServeReset())
      continue;
    TOrderedOutput::TPiece piece;
    if (!FQueue.NextPiece(WholeBuffer, piece)) {
      FQueue.Wait(IdleWait, true);
      continue;
    }
    const bool written = Write(piece);
    FQueue.PieceSent(piece, !written);
    if (piece.EndsBuffer)
      FQueue.CompleteOldest(!written);
  }
}

} // namespace pelrow
