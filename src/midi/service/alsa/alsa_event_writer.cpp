// Sequencer events for an output's byte stream.
#include "midi/service/alsa/alsa_event_writer.h"

#include <algorithm>
#include <cerrno>

namespace pelrow {

namespace {
// Room for the longest short message; SysEx never goes through the encoder.
constexpr size_t EncoderBytes = 16;
constexpr auto FirstBackOff = std::chrono::microseconds(1000);
constexpr auto LastBackOff = std::chrono::microseconds(20'000);
} // namespace

TAlsaEventWriter::TAlsaEventWriter(int sourcePort, TAlsaAddress destination)
    : FSource(sourcePort), FDestination(destination) {
  if (snd_midi_event_new(EncoderBytes, &FEncoder) < 0)
    FEncoder = nullptr;
}

TAlsaEventWriter::~TAlsaEventWriter() {
  if (FEncoder)
    snd_midi_event_free(FEncoder);
}

void TAlsaEventWriter::Write(const uint8_t* data, size_t size, const TSend& send) {
  FSplitter.Split(data, size, [&](const TMidiPart& part) { Emit(part, send); });
}

void TAlsaEventWriter::Flush(const TSend& send) {
  FSplitter.Flush([&](const TMidiPart& part) { Emit(part, send); });
}

void TAlsaEventWriter::Reset() {
  FSplitter.Reset();
}

void TAlsaEventWriter::Address(snd_seq_event_t& event) const {
  snd_seq_ev_set_source(&event, FSource);
  snd_seq_ev_set_dest(&event, FDestination.Client, FDestination.Port);
  snd_seq_ev_set_direct(&event);
}

void TAlsaEventWriter::EmitBytes(const uint8_t* data, size_t size, const TSend& send) {
  if (size == 0)
    return;
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_seq_ev_set_sysex(&event, unsigned(size), const_cast<uint8_t*>(data));
  Address(event);
  send(event);
}

void TAlsaEventWriter::Emit(const TMidiPart& part, const TSend& send) {
  if (part.Kind != TMidiPartKind::Short || FEncoder == nullptr) {
    EmitBytes(part.Data, part.Count, send);
    return;
  }
  // A whole message on a fresh encoder always completes its event, unless the
  // sequencer has no event for it (undefined status bytes): those go as bytes.
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_midi_event_reset_encode(FEncoder);
  const long used = snd_midi_event_encode(FEncoder, part.Data, long(part.Count), &event);
  if (used != long(part.Count) || event.type == SND_SEQ_EVENT_NONE) {
    EmitBytes(part.Data, part.Count, send);
    return;
  }
  Address(event);
  send(event);
}

TAlsaDelivery DeliverEvent(const std::function<int()>& send,
                           const std::function<bool(std::chrono::microseconds pause)>& wait) {
  auto pause = FirstBackOff;
  for (;;) {
    const int result = send();
    if (result >= 0)
      return TAlsaDelivery::Sent;
    if (result != -EAGAIN)
      return TAlsaDelivery::Refused;
    if (!wait(pause))
      return TAlsaDelivery::GaveUp;
    pause = std::min(pause * 2, LastBackOff);
  }
}

} // namespace pelrow
