// Whole messages out of an outgoing MIDI byte stream.
#include "midi/service/midi_message_splitter.h"

#include "midi/service/midi_message_length.h"

namespace pelrow {

namespace {
constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEnd = 0xF7;
constexpr uint8_t FirstRealTime = 0xF8;
} // namespace

void TMidiMessageSplitter::Split(const uint8_t* data, size_t size, const TSink& sink) {
  constexpr size_t None = ~size_t{0};
  // Runs of SysEx or stray bytes go out in one part each, straight from data.
  size_t sysExRun = None;
  bool runStarts = false;
  size_t strayRun = None;
  const auto endSysExRun = [&](size_t end, bool ends, bool cut) {
    if (sysExRun == None)
      sysExRun = end;
    if (end > sysExRun || ends)
      sink(TMidiPart{TMidiPartKind::SysEx, data + sysExRun, end - sysExRun, runStarts, ends, cut});
    sysExRun = None;
    runStarts = false;
  };
  const auto endStrayRun = [&](size_t end) {
    if (strayRun != None)
      sink(TMidiPart{TMidiPartKind::Stray, data + strayRun, end - strayRun});
    strayRun = None;
  };

  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    if (FInSysEx) {
      if (byte < 0x80) {
        if (sysExRun == None)
          sysExRun = i;
        continue;
      }
      if (byte >= FirstRealTime) {
        endSysExRun(i, false, false);
        sink(TMidiPart{TMidiPartKind::Short, data + i, 1});
        continue;
      }
      FInSysEx = false;
      if (byte == SysExEnd) {
        if (sysExRun == None)
          sysExRun = i;
        endSysExRun(i + 1, true, false);
        continue;
      }
      endSysExRun(i, true, true); // any other status byte cuts the SysEx short
    }
    if (byte < 0x80) {
      if (FCount == 0 && FRunning == 0) {
        if (strayRun == None)
          strayRun = i;
        continue;
      }
      Data(byte, sink);
      continue;
    }
    endStrayRun(i);
    if (byte == SysExStart) {
      if (FCount > 0)
        EmitPending(TMidiPartKind::Stray, sink);
      FRunning = 0;
      FInSysEx = true;
      sysExRun = i;
      runStarts = true;
      continue;
    }
    Status(byte, sink);
  }
  if (FInSysEx && sysExRun != None)
    endSysExRun(size, false, false);
  endStrayRun(size);
}

void TMidiMessageSplitter::Status(uint8_t status, const TSink& sink) {
  if (status >= FirstRealTime) {
    // Real-time bytes may sit inside another message and leave it whole.
    sink(TMidiPart{TMidiPartKind::Short, &status, 1});
    return;
  }
  if (FCount > 0)
    EmitPending(TMidiPartKind::Stray, sink);
  if (status == SysExEnd) {
    FRunning = 0;
    sink(TMidiPart{TMidiPartKind::Stray, &status, 1});
    return;
  }
  // System common messages end running status; channel messages set it.
  FRunning = status < 0xF0 ? status : 0;
  FMessage[0] = status;
  FCount = 1;
  FNeeded = ShortMessageLength(status);
  if (FNeeded == 1)
    EmitPending(TMidiPartKind::Short, sink);
}

void TMidiMessageSplitter::Data(uint8_t byte, const TSink& sink) {
  if (FCount == 0) {
    FMessage[0] = FRunning;
    FCount = 1;
    FNeeded = ShortMessageLength(FRunning);
  }
  FMessage[FCount++] = byte;
  if (FCount == FNeeded)
    EmitPending(TMidiPartKind::Short, sink);
}

void TMidiMessageSplitter::EmitPending(TMidiPartKind kind, const TSink& sink) {
  const size_t count = size_t(FCount);
  FCount = 0;
  sink(TMidiPart{kind, FMessage, count});
}

void TMidiMessageSplitter::Flush(const TSink& sink) {
  if (FCount == 0)
    return;
  FRunning = 0;
  EmitPending(TMidiPartKind::Incomplete, sink);
}

void TMidiMessageSplitter::Reset() {
  FInSysEx = false;
  FRunning = 0;
  FCount = 0;
  FNeeded = 0;
}

} // namespace pelrow
