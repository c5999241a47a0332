// A send's bytes as an output that takes whole messages wants them: each short
// message on its own, a SysEx joined over the lines that carry it and handed over
// whole (or in pieces of the output's largest event), so the pace can be kept
// between messages and never cuts one. Bytes that form no message have no place
// on such an output; they are kept apart with the place they came from.
#pragma once

#include "midi/service/midi_message_splitter.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace pelrow {

// Where a byte of a send came from: the zero-based line and the byte's index
// among the bytes of that line.
struct TBytePlace {
  int Line = -1;
  int Byte = -1;
  bool Known() const { return Line >= 0; }
};

struct TSendUnit {
  std::vector<uint8_t> Bytes;
  int InputBytes = 0;     // the bytes of the send it stands for (no running status)
  bool Short = false;     // one complete message of one to three bytes
  bool EndsSysEx = false; // ends with the F7 of a SysEx
  int Line = 0;           // the line that completed it
  TBytePlace Start;       // where its first byte came from
  // A message without its end: a SysEx without F7, a short message missing data.
  bool Cut() const { return !Short && !EndsSysEx; }
};

class TWholeMessageFramer {
public:
  // limit: the largest event the output takes; a longer SysEx goes in pieces.
  explicit TWholeMessageFramer(size_t limit);

  // Cuts the bytes of one line; what they complete queues up as units.
  void Feed(const uint8_t* data, size_t size, int line);
  // The end of the send: an unterminated SysEx and a message still missing data
  // bytes become units as they are, as the user sent them.
  void Finish();

  bool HasUnit() const { return !FUnits.empty(); }
  const TSendUnit& NextUnit() const { return FUnits.front(); }
  void PopUnit() { FUnits.pop_front(); }

  // Bytes that formed no message so far, and where the first of them came from.
  int64_t StrayBytes() const { return FStrayBytes; }
  TBytePlace FirstStray() const { return FFirstStray; }

private:
  // added: bytes of the part that the splitter added (a running status byte).
  void Take(const TMidiPart& part, TBytePlace at, int line, int added);
  void EndSysEx(bool endsWithF7, int line);

  const size_t FLimit;
  TMidiMessageSplitter FSplitter;
  std::deque<TSendUnit> FUnits;
  std::vector<uint8_t> FSysEx;
  TBytePlace FSysExStart;
  TBytePlace FMessageStart;    // first byte of the short message being collected
  bool FStartedByData = false; // ... under running status, by its first data byte
  int64_t FStrayBytes = 0;
  TBytePlace FFirstStray;
};

} // namespace pelrow
