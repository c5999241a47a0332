#include "support/engine_send.h"

#include "app/line_formatter.h"
#include "app/send_engine.h"
#include "support/clock.h"
#include "support/midi_collectors.h"

#include <algorithm>

namespace pelrow::testing {

namespace {
constexpr int SplitLineBytes = 32;
constexpr uint8_t NoteOn[] = {0x90, 0x3C, 0x40};

bool IsStatus(uint8_t byte) {
  return byte >= 0x80;
}

// Bytes of the short message that starts with status; 0 for SysEx and data.
size_t ShortLength(uint8_t status) {
  if (status < 0x80 || status == 0xF0 || status == 0xF7)
    return 0;
  if (status < 0xF0)
    return (status & 0xE0) == 0xC0 ? 2 : 3;
  if (status == 0xF1 || status == 0xF3)
    return 2;
  return status == 0xF2 ? 3 : 1;
}
} // namespace

TSplitDump SplitDump(size_t sysExBytes, size_t messageBytes, bool notesBetween) {
  TSplitDump dump;
  const TAddLine addLine = [&](std::string_view line) { dump.Lines.Add(std::string(line)); };
  uint8_t seed = 0;
  for (size_t done = 0; done < sysExBytes;) {
    const std::vector<uint8_t> message = SysEx(std::min(messageBytes, sysExBytes - done), seed++);
    AddLongMessageLines(message.data(), int(message.size()), SplitLineBytes, addLine, nullptr);
    dump.Bytes.insert(dump.Bytes.end(), message.begin(), message.end());
    done += message.size();
    if (notesBetween && done < sysExBytes) {
      AddShortMessageLine(NoteOn[0], NoteOn[1], NoteOn[2], 3, addLine, nullptr);
      dump.Bytes.insert(dump.Bytes.end(), std::begin(NoteOn), std::end(NoteOn));
    }
  }
  return dump;
}

int SendThroughEngine(TMidiOutputBase& output, const TVKStrings& lines, int speed,
                      std::string& failure) {
  TSleepingEventLoop loop;
  const TEngineSendReport report = SendThroughEngine(output, lines, speed, loop);
  failure = report.Failure;
  return report.Sent;
}

TEngineSendReport SendThroughEngine(TMidiOutputBase& output, const TVKStrings& lines, int speed,
                                    TSendEventLoop& loop) {
  TEngineSendReport report;
  const TShowStatus showStatus = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if ((kind == TStatusKind::Error || kind == TStatusKind::ErrorBox) && report.Failure.empty())
      report.Failure = text;
    else if (kind == TStatusKind::Warning)
      report.Warnings.push_back(text);
    else if (kind == TStatusKind::Plain)
      report.Outcome = text;
  };
  TSendEngine engine(SteadyClock(), loop, output, showStatus, [speed] { return speed; });
  TListSendSource source(lines);
  engine.BSendClick(source);
  report.Sent = engine.TotalSent();
  return report;
}

std::string CheckWholeMessages(const std::vector<std::vector<uint8_t>>& events,
                               const std::vector<uint8_t>& sent) {
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < events.size(); ++i) {
    const std::vector<uint8_t>& event = events[i];
    const std::string where =
        "event " + std::to_string(i) + " at byte " + std::to_string(joined.size()) + ": ";
    if (event.empty())
      return where + "empty";
    if (!IsStatus(event[0]))
      return where + "starts with a data byte";
    const bool sysEx = event[0] == 0xF0;
    if (sysEx && event.back() != 0xF7)
      return where + "a SysEx without its F7";
    if (!sysEx && event.size() != ShortLength(event[0]))
      return where + "not one short message";
    const auto inner = std::find_if(event.begin() + 1, event.end() - (sysEx ? 1 : 0), IsStatus);
    if (inner != event.end() - (sysEx ? 1 : 0))
      return where + "a second status byte inside";
    joined.insert(joined.end(), event.begin(), event.end());
  }
  return Difference(joined, sent);
}

} // namespace pelrow::testing
