// Sequencer events for an output's byte stream. The sequencer's own MIDI event
// encoder throws away what it cannot place (the middle lines of a SysEx sent over
// several lines, a SysEx cut short by the next status, undefined status bytes), so
// the stream is cut into whole messages here first: each short message becomes its
// event, SysEx goes out as SysEx events as far as it has come, continuation pieces
// included, and bytes that form no message go out unchanged as a SysEx-type event,
// which the sequencer hands to the receiver (or the MIDI cable) byte for byte. The
// state between calls belongs to one output, so a SysEx may span many long sends.
// Every event is addressed to the chosen port alone, never to all subscribers of
// ours, so that a retry can never reach a receiver twice.
#pragma once

#include "midi/service/alsa/alsa_helpers.h"
#include "midi/service/midi_message_splitter.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace pelrow {

class TAlsaEventWriter {
public:
  // Gets each event while it is valid (a SysEx event points into the bytes given).
  using TSend = std::function<void(snd_seq_event_t& event)>;

  TAlsaEventWriter(int sourcePort, TAlsaAddress destination);
  ~TAlsaEventWriter();
  TAlsaEventWriter(const TAlsaEventWriter&) = delete;
  TAlsaEventWriter& operator=(const TAlsaEventWriter&) = delete;

  // False when the short-message encoder could not be made (out of memory).
  bool Ready() const { return FEncoder != nullptr; }

  // Hands the events that data completes to send, in stream order. A short message
  // still missing data bytes waits for the next call.
  void Write(const uint8_t* data, size_t size, const TSend& send);
  // Sends a waiting incomplete short message as the bytes it is.
  void Flush(const TSend& send);
  // Forgets an open SysEx, running status and a waiting message.
  void Reset();
  // The chosen port came back at a new address.
  void SetDestination(TAlsaAddress destination) { FDestination = destination; }

private:
  void Emit(const TMidiPart& part, const TSend& send);
  void EmitBytes(const uint8_t* data, size_t size, const TSend& send);
  void Address(snd_seq_event_t& event) const;

  const int FSource;
  TAlsaAddress FDestination;
  TMidiMessageSplitter FSplitter;
  snd_midi_event_t* FEncoder = nullptr;
};

// What became of one event: sent; refused for good (an event larger than the
// receiver's whole pool, a port that went away); or still waiting for a full
// receiver when a reset or close ended the wait.
enum class TAlsaDelivery { Sent, Refused, GaveUp };

// Sends one event with send (which returns the sequencer's result). Only a full
// receiver (EAGAIN) is worth waiting for: then wait is called with a pause growing
// from 1 ms to 20 ms, and its false (a reset or close) ends the attempt.
TAlsaDelivery DeliverEvent(const std::function<int()>& send,
                           const std::function<bool(std::chrono::microseconds pause)>& wait);

} // namespace pelrow
