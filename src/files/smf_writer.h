// Standard MIDI File writer: MIDI data, line by line as the boxes hold it, as a
// file of format 0 with one track and every event at time 0, so that any program
// that reads MIDI files finds the same bytes. A System Exclusive message is an F0
// event; when it goes on over several lines, each further line is an F7 packet
// that continues it. Channel messages are ordinary events; any other byte (system
// common and real-time messages, stray data bytes) goes in an F7 escape packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pelrow {

class TSmfWriter {
public:
  static constexpr uint16_t Division = 96; // ticks per quarter note

  // The bytes of one line, in line order.
  void AddLine(std::span<const uint8_t> bytes);

  // The whole file: header chunk and the one track chunk, ended by end-of-track.
  std::string FileBytes() const;
  // The MIDI bytes added so far.
  std::size_t MidiBytes() const { return FMidiBytes; }

private:
  void AddEvent(uint8_t status, std::span<const uint8_t> data, bool withLength);
  void AddPackets(uint8_t status, std::span<const uint8_t> data);

  std::string FTrack;
  std::size_t FMidiBytes = 0;
  // A System Exclusive message is open: the next line's data bytes continue it.
  bool FInSysEx = false;
};

} // namespace pelrow
