// Cutting a send into whole messages.
#include "app/whole_messages.h"

#include <algorithm>

namespace pelrow {

namespace {
constexpr uint8_t FirstRealTime = 0xF8;
constexpr uint8_t SysExEnd = 0xF7;
} // namespace

TWholeMessageFramer::TWholeMessageFramer(size_t limit) : FLimit(std::max<size_t>(limit, 1)) {}

// Byte by byte, so that a byte that forms no message is known by its place, also
// when the splitter hands on a message it had collected over several lines.
void TWholeMessageFramer::Feed(const uint8_t* data, size_t size, int line) {
  for (size_t i = 0; i < size; ++i) {
    const TBytePlace here{line, static_cast<int>(i)};
    const uint8_t byte = data[i];
    const bool wasCollecting = FSplitter.Collecting();
    const bool status = byte >= 0x80;
    FSplitter.Split(&data[i], 1, [&](const TMidiPart& part) {
      // A run that is not this byte is the message collected so far (a status
      // byte that makes a part of its own comes as a copy).
      const bool thisByte =
          part.Data == &data[i] || (status && part.Count == 1 && part.Data[0] == byte);
      Take(part, thisByte ? here : FMessageStart, line, !thisByte && FStartedByData ? 1 : 0);
    });
    if (!FSplitter.Collecting()) {
      FMessageStart = {};
      FStartedByData = false;
    } else if (!wasCollecting || (status && byte < FirstRealTime)) {
      FMessageStart = here;
      FStartedByData = !status;
    }
  }
}

void TWholeMessageFramer::Finish() {
  const int line = FMessageStart.Known() ? FMessageStart.Line : 0;
  FSplitter.Flush(
      [&](const TMidiPart& part) { Take(part, FMessageStart, line, FStartedByData ? 1 : 0); });
  FMessageStart = {};
  FStartedByData = false;
  EndSysEx(false, FUnits.empty() ? line : FUnits.back().Line);
  FSplitter.Reset();
}

void TWholeMessageFramer::Take(const TMidiPart& part, TBytePlace at, int line, int added) {
  switch (part.Kind) {
  case TMidiPartKind::Short:
  case TMidiPartKind::Incomplete: {
    TSendUnit unit;
    unit.Bytes.assign(part.Data, part.Data + part.Count);
    unit.InputBytes = static_cast<int>(part.Count) - added;
    unit.Short = part.Kind == TMidiPartKind::Short;
    unit.Line = line;
    unit.Start = at;
    FUnits.push_back(std::move(unit));
    return;
  }
  case TMidiPartKind::Stray:
    if (!FFirstStray.Known())
      FFirstStray = at;
    FStrayBytes += static_cast<int64_t>(part.Count) - added;
    return;
  case TMidiPartKind::SysEx:
    for (size_t i = 0; i < part.Count; ++i) {
      if (FSysEx.empty())
        FSysExStart = at;
      FSysEx.push_back(part.Data[i]);
      if (FSysEx.size() == FLimit && !(part.Ends && i + 1 == part.Count))
        EndSysEx(false, line);
    }
    if (part.Ends)
      EndSysEx(!part.Cut, line);
    return;
  }
}

void TWholeMessageFramer::EndSysEx(bool endsWithF7, int line) {
  if (FSysEx.empty())
    return;
  TSendUnit unit;
  unit.Bytes.swap(FSysEx);
  unit.InputBytes = static_cast<int>(unit.Bytes.size());
  unit.EndsSysEx = endsWithF7 && unit.Bytes.back() == SysExEnd;
  unit.Line = line;
  unit.Start = FSysExStart;
  FUnits.push_back(std::move(unit));
}

} // namespace pelrow
