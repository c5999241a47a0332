#include "app/receive_display.h"

#include "app/line_formatter.h"

namespace pelrow {

bool AddLongMessageLines(const uint8_t* data, int length, int limit, TReceiveLines& lines,
                         const TShowStatus& showStatus) {
  return AddLongMessageLines(
      data, length, limit, [&](std::string_view line) { lines.Add(line); }, showStatus);
}

int AddMessagePieceLines(const uint8_t* data, int length, int limit, int openLineBytes,
                         TReceiveLines& lines, const TShowStatus& showStatus) {
  int joined = 0;
  if (openLineBytes > 0 && lines.Count() > 0)
    while (joined < length && (data[joined] < 0x80 || data[joined] == 0xF7) &&
           (limit <= 0 || openLineBytes + joined < limit))
      ++joined;
  int lastLineBytes = openLineBytes;
  if (joined > 0) {
    const uint8_t* joining = data;
    int left = joined;
    std::string text;
    FormatHexLine(joining, left, joined, text);
    lines.AppendToLast(" " + text);
    lastLineBytes += joined;
  }
  AddLongMessageLines(
      data + joined, length - joined, limit,
      [&](std::string_view line) {
        lines.Add(line);
        lastLineBytes = static_cast<int>(line.size() + 1) / 3;
      },
      showStatus);
  return lastLineBytes;
}

bool AddEventLines(const TMyMidiEvent& event, int limit, TReceiveLines& lines,
                   const TShowStatus& showStatus) {
  return AddEventLines(
      event, limit, [&](std::string_view line) { lines.Add(line); }, showStatus);
}

void DisplayShortEvent(std::unique_ptr<TMyMidiEvent> event, TReceiveLines& lines,
                       const TShowStatus& showStatus) {
  if (!event)
    return;
  TReceiveUpdate update(lines);
  lines.DeferScrollToEnd();
  AddEventLines(*event, -1, lines, showStatus);
}

} // namespace pelrow
