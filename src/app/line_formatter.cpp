#include "app/line_formatter.h"

#include "support/hex_digits.h"
#include "support/text_format.h"

#include <exception>

namespace pelrow {

// Writes n bytes as "XX XX XX" into a text sized once: every byte is written with
// its trailing blank, and the one after the last byte is dropped again.
void WriteHexBytes(const uint8_t* bytes, int n, std::string& text) {
  text.resize(static_cast<size_t>(n) * 3);
  char* out = text.data();
  for (int k = 0; k < n; ++k, out += 3) {
    WriteHexByte(bytes[k], out);
    out[2] = ' ';
  }
  text.pop_back();
}

namespace {

constexpr uint8_t EndOfExclusive = 0xF7;

constexpr const char* UnknownFormattingError = "Unknown error while formatting received data";

// Runs a formatting step; a failure (out of memory for a huge block, say) is
// reported on the In side and turns into false instead of escaping.
template <typename Step> bool Guarded(const TShowStatus& showStatus, Step step) {
  std::string message;
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = UnknownFormattingError;
  }
  if (showStatus)
    showStatus(message, TStatusSide::In, TStatusKind::Error, false);
  return false;
}

} // namespace

int SplitThreshold(bool splitLongMessages, int splitLongMessagesThreshold) {
  return splitLongMessages ? splitLongMessagesThreshold : -1;
}

int HexLineBytes(const uint8_t* data, int remaining, int limit) {
  int scanEnd = remaining;
  if (limit > 0 && limit < scanEnd)
    scanEnd = limit;
  // The first byte is always taken so that callers always make progress; a status
  // byte starts a new line, except F7, which stays on the line it closes.
  int n = 1;
  while (n < scanEnd && (data[n] < 0x80 || data[n] == EndOfExclusive))
    ++n;
  return n;
}

void FormatHexLine(const uint8_t*& data, int& remaining, int limit, std::string& text) {
  const int n = HexLineBytes(data, remaining, limit);
  WriteHexBytes(data, n, text);
  data += n;
  remaining -= n;
}

bool AddLongMessageLines(const uint8_t* data, int length, int limit, const TAddLine& addLine,
                         const TShowStatus& showStatus) {
  return Guarded(showStatus, [&] {
    int remaining = length;
    std::string text;
    while (remaining > 0) {
      FormatHexLine(data, remaining, limit, text);
      addLine(text);
    }
  });
}

bool AddShortMessageLine(uint8_t status, uint8_t data1, uint8_t data2, int length,
                         const TAddLine& addLine, const TShowStatus& showStatus) {
  if (length < 1 || length > 3)
    return true;
  return Guarded(showStatus, [&] {
    const uint8_t bytes[3] = {status, data1, data2};
    std::string text;
    WriteHexBytes(bytes, length, text);
    addLine(text);
  });
}

bool AddShortMessageLine(const TMyMidiEvent& event, const TAddLine& addLine,
                         const TShowStatus& showStatus) {
  return AddShortMessageLine(event.Status, event.Data1, event.Data2, MessageLength(event), addLine,
                             showStatus);
}

TMarkLine MarkLineKind(std::string_view line) {
  const auto starts = [&](std::string_view mark) { return line.substr(0, 4) == mark.substr(0, 4); };
  if (starts(LostMarkLine))
    return TMarkLine::Certain;
  if (starts(MayBeLostMarkLine))
    return TMarkLine::Possible;
  return TMarkLine::None;
}

namespace {
std::string GapLine(const TMyMidiEvent& event) {
  if (event.Gap == TInputGap::MayBeLost)
    return event.LostBytes > 0 ? FormatText(MayBeLostSkippedMarkLine,
                                            static_cast<unsigned long long>(event.LostBytes))
                               : std::string(MayBeLostMarkLine);
  if (event.Gap == TInputGap::Overrun)
    return FormatText(OverrunMarkLine, static_cast<unsigned long long>(event.LostBytes));
  return event.LostBytes > 0
             ? FormatText(LostMarkLine, static_cast<unsigned long long>(event.LostBytes))
             : std::string(LostUncountedMarkLine);
}
} // namespace

bool AddEventLines(const TMyMidiEvent& event, int limit, const TAddLine& addLine,
                   const TShowStatus& showStatus) {
  if (event.Gap != TInputGap::None)
    return Guarded(showStatus, [&] {
      if (event.Damaged)
        addLine(CutMarkLine);
      addLine(GapLine(event));
    });
  if (event.Length == 0)
    return AddShortMessageLine(event, addLine, showStatus);
  if (!AddLongMessageLines(event.Data.get(), event.Length, limit, addLine, showStatus))
    return false;
  return !event.Damaged || Guarded(showStatus, [&] { addLine(CutMarkLine); });
}

} // namespace pelrow
