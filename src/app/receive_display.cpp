#include "app/receive_display.h"

#include "app/line_formatter.h"

namespace pelrow {

bool AddLongMessageLines(const uint8_t* data, int length, int limit, TReceiveLines& lines,
                         const TShowStatus& showStatus) {
  return AddLongMessageLines(
      data, length, limit, [&](std::string_view line) { lines.Add(line); }, showStatus);
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
