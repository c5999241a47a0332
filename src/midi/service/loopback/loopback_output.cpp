// Loopback output port.
#include "midi/service/loopback/loopback_output.h"

#include "midi/service/midi_input_stream.h"

namespace pelrow {

TLoopbackOutPort::TLoopbackOutPort(std::shared_ptr<TLoopbackHub> hub, std::string name,
                                   TMidiOutCallback completion)
    : FHub(std::move(hub)), FName(std::move(name)),
      FQueue(
          [this](const TMidiBuffer& buffer, const std::atomic<bool>& abort) {
            FHub->WaitWhileStalled(FName, abort);
            if (!abort && FHub->SendState(FName) == MidiOk)
              FHub->Deliver(FName, buffer.Data, buffer.BufferLength);
          },
          std::move(completion)) {}

TMidiResult TLoopbackOutPort::ShortMsg(uint32_t packed) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed >> 16)};
  const int length = ShortMessageLength(bytes[0]);
  if (length == 0)
    return MidiErrInvalidParam;
  if (const TMidiResult state = FHub->SendState(FName); state != MidiOk)
    return state;
  FHub->Deliver(FName, bytes, static_cast<size_t>(length));
  return MidiOk;
}

TMidiResult TLoopbackOutPort::LongMsg(TMidiBuffer& buffer) {
  if (const TMidiResult state = FHub->SendState(FName); state != MidiOk)
    return state;
  return FQueue.Queue(buffer);
}

TMidiResult TLoopbackOutPort::Reset() {
  return FQueue.Reset();
}

} // namespace pelrow
