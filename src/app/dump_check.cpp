#include "app/dump_check.h"

#include "app/damage_mark.h"
#include "app/hex_notation.h"
#include "app/sysex_checks.h"
#include "editor/vkstrings.h"
#include "midi/service/midi_message_length.h"
#include "support/hex_digits.h"
#include "support/text_format.h"

#include <algorithm>
#include <array>

namespace pelrow {

namespace {

constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEnd = 0xF7;
constexpr uint8_t FirstRealTime = 0xF8;

constexpr char SystemExclusiveName[] = "System Exclusive";
constexpr char ChannelMessageText[] = "%s, channel %d";
constexpr char MessageLineText[] = "#%d, %s bytes, %s";
constexpr char OneByteMessageLineText[] = "#%d, 1 byte, %s";
constexpr char ManufacturerText[] = ", %s (%s)";
constexpr char UnknownManufacturerText[] = ", manufacturer %s";
constexpr char DeviceText[] = ", device %s";

constexpr char TextErrorText[] = "column %s";
constexpr char NoEndText[] = "System Exclusive message %d has no F7";
constexpr char CutByText[] = "message %d is cut by %s";
constexpr char CutShortText[] = "message %d is cut after %d of %d bytes";
constexpr char ByteAbove7FText[] = "byte %s above 7F inside System Exclusive message %d";
constexpr char OutsideText[] = "%d bytes outside any message";
constexpr char OutsideOneText[] = "1 byte outside any message";
constexpr char LoneEndText[] = "F7 outside any message";
constexpr char DamagedText[] = "message %d is marked damaged";
constexpr char LostText[] = "input was lost here";
constexpr char NoMessagesText[] = "holds no MIDI messages";
constexpr char MayBeIncompleteText[] =
    "may be incomplete: the MIDI system was interrupted here while receiving";
constexpr char ChecksumText[] = "checksum error in message %d (%s): %s";
constexpr char ByteCountProblemText[] = "byte count error in message %d (%s): %s";
constexpr char ProblemLogText[] = "line %d: %s";
constexpr char WholeBoxLogText[] = "the box %s";
constexpr char MoreProblemsText[] = "... and %s more problems";

constexpr char MessagesText[] = "%s messages";
constexpr char OneMessageText[] = "1 message";
constexpr char NoProblemsText[] = "no problems found";
constexpr char LinesText[] = "lines ";
constexpr char LineText[] = "line ";
constexpr char MoreLinesText[] = ", ...";
constexpr char MoreMakersText[] = " and %d more";
// The summary names so many makers and so many lines per problem kind at most.
constexpr size_t SummaryMakers = 3;
constexpr size_t SummaryLines = 10;

struct TKindLabel {
  const char* One;
  const char* Many;
};
// By TCheckProblemKind.
constexpr std::array<TKindLabel, 11> KindLabels{{
    {"text error", "text errors"},
    {"message without F7", "messages without F7"},
    {"cut message", "cut messages"},
    {"byte above 7F", "bytes above 7F"},
    {"stray byte", "stray bytes"},
    {"damaged message", "damaged messages"},
    {"loss mark", "loss marks"},
    {"checksum error", "checksum errors"},
    {"byte count error", "byte count errors"},
    {"no MIDI messages", "no MIDI messages"}, // stands alone, without count and lines
    {"place that may be incomplete", "places that may be incomplete"},
}};

constexpr std::array<const char*, 7> ChannelNames{
    "Note Off",       "Note On",          "Poly Pressure", "Control Change",
    "Program Change", "Channel Pressure", "Pitch Bend"};
constexpr std::array<const char*, 16> SystemNames{"System Exclusive",
                                                  "MIDI Time Code Quarter Frame",
                                                  "Song Position",
                                                  "Song Select",
                                                  "Undefined F4",
                                                  "Undefined F5",
                                                  "Tune Request",
                                                  "End of Exclusive",
                                                  "Timing Clock",
                                                  "Undefined F9",
                                                  "Start",
                                                  "Continue",
                                                  "Stop",
                                                  "Undefined FD",
                                                  "Active Sensing",
                                                  "System Reset"};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
    text.remove_suffix(1);
  return text;
}

TMessageKind KindOf(uint8_t status) {
  if (status < 0xF0)
    return TMessageKind::Channel;
  if (status == SysExStart)
    return TMessageKind::SystemExclusive;
  return status >= FirstRealTime ? TMessageKind::RealTime : TMessageKind::SystemCommon;
}

std::string NameOf(uint8_t status) {
  if (status < 0xF0)
    return FormatText(ChannelMessageText, ChannelNames[(status >> 4) - 8], (status & 0x0F) + 1);
  return SystemNames[status & 0x0F];
}

// Reads the data once from the front; each message and problem is added as met.
class TDumpScanner {
public:
  TDumpScanner(const TDumpData& data, TCheckReport& report)
      : FData(data), FReport(report), B(reinterpret_cast<const uint8_t*>(data.Bytes().data())),
        N(data.Bytes().size()) {}

  void Run() {
    size_t i = 0;
    uint8_t running = 0;
    while (i < N) {
      const uint8_t b = B[i];
      if (b == SysExStart) {
        i = SysEx(i);
        running = 0;
      } else if (b >= FirstRealTime) {
        i = ShortMessage(i, b, i + 1); // real time leaves the running status alone
      } else if (b == SysExEnd) {
        Problem(TCheckProblemKind::OutsideMessage, i, 0, LoneEndText);
        ++i;
        running = 0;
      } else if (b >= 0x80) {
        running = b < 0xF0 ? b : 0;
        i = ShortMessage(i, b, i + 1);
      } else if (running != 0) {
        i = ShortMessage(i, running, i);
      } else {
        i = Outside(i);
      }
    }
  }

private:
  TCheckedMessage& NewMessage(size_t start, uint8_t status) {
    TCheckedMessage& m = FReport.Messages.emplace_back();
    m.Index = static_cast<int>(FReport.Messages.size());
    m.Line = FData.LineAt(static_cast<int64_t>(start));
    m.Offset = static_cast<int64_t>(start);
    m.Kind = KindOf(status);
    m.Name = NameOf(status);
    return m;
  }

  void Problem(TCheckProblemKind kind, size_t at, int message, std::string text, int count = 1) {
    TCheckProblem& p = FReport.Problems.emplace_back();
    p.Kind = kind;
    p.Offset = static_cast<int64_t>(at);
    p.Line = FData.LineAt(p.Offset);
    p.Message = message;
    p.Count = count;
    p.Text = std::move(text);
  }

  // A status byte and its data bytes; dataStart == start under running status.
  size_t ShortMessage(size_t start, uint8_t status, size_t dataStart) {
    const int wanted = ShortMessageLength(status) - 1;
    size_t end = dataStart;
    while (static_cast<int>(end - dataStart) < wanted && end < N && B[end] < 0x80)
      ++end;
    TCheckedMessage& m = NewMessage(start, status);
    m.Length = static_cast<int64_t>(end - start);
    const int got = static_cast<int>(end - dataStart);
    if (got < wanted) {
      m.Complete = false;
      Problem(TCheckProblemKind::Cut, start, m.Index,
              FormatText(CutShortText, m.Index, got + 1, wanted + 1));
    }
    return end;
  }

  size_t Outside(size_t start) {
    size_t end = start;
    while (end < N && B[end] < 0x80)
      ++end;
    const int count = static_cast<int>(std::min<size_t>(end - start, INT32_MAX));
    Problem(TCheckProblemKind::OutsideMessage, start, 0,
            count == 1 ? std::string(OutsideOneText)
                       : FormatText(OutsideText, GroupedNumber(count)),
            count);
    return end;
  }

  // A System Exclusive message ends at the F7 that comes before any other F0; a
  // status byte on the way is then a damaged data byte. Without such an F7 the
  // message is cut by its first status byte (other than real time), or by the next
  // F0, or by the end of the data. Real-time bytes may come between its bytes.
  size_t SysEx(size_t start) {
    size_t stop = start + 1;
    size_t firstStatus = N;
    for (; stop < N && B[stop] != SysExEnd && B[stop] != SysExStart; ++stop)
      if (B[stop] >= 0x80 && B[stop] < FirstRealTime && firstStatus == N)
        firstStatus = stop;
    const bool ended = stop < N && B[stop] == SysExEnd;
    const size_t end = ended ? stop + 1 : std::min(firstStatus, stop);

    TCheckedMessage& m = NewMessage(start, SysExStart);
    m.Length = static_cast<int64_t>(end - start);
    m.Complete = ended;
    const int index = m.Index;
    std::vector<uint8_t> payload;
    payload.reserve(end - start);
    for (size_t k = start + 1; k < (ended ? stop : end); ++k) {
      if (B[k] >= FirstRealTime)
        continue;
      if (B[k] >= 0x80)
        Problem(TCheckProblemKind::ByteAbove7F, k, index,
                FormatText(ByteAbove7FText, HexByteText(B[k]), index));
      payload.push_back(B[k]);
    }
    if (!ended && end < N)
      Problem(TCheckProblemKind::Cut, end - 1, index,
              FormatText(CutByText, index, HexByteText(B[end])));
    else if (!ended) // where the F7 is missing
      Problem(TCheckProblemKind::NoEnd, end - 1, index, FormatText(NoEndText, index));
    Describe(start, index, payload, ended);
    return end;
  }

  void Describe(size_t start, int index, const std::vector<uint8_t>& payload, bool complete) {
    const TSysExDescription d = DescribeSysEx(payload, complete);
    TCheckedMessage& m = FReport.Messages[static_cast<size_t>(index - 1)];
    m.Manufacturer = d.Manufacturer;
    m.ManufacturerName = d.ManufacturerName;
    m.DeviceId = d.DeviceId;
    m.Detail = d.Detail;
    if (!d.ChecksumError.empty())
      Problem(TCheckProblemKind::Checksum, start, index,
              FormatText(ChecksumText, index, d.Detail, d.ChecksumError));
    if (!d.ByteCountError.empty())
      Problem(TCheckProblemKind::ByteCount, start, index,
              FormatText(ByteCountProblemText, index, d.Detail, d.ByteCountError));
  }

  const TDumpData& FData;
  TCheckReport& FReport;
  const uint8_t* B;
  size_t N;
};

// A mark inside a message, or right after one that did not end, damages it; any
// other mark says that input was lost between messages. A damaged message is
// reported once, at its mark: that it was cut or has no F7 is what the mark says.
void PlaceDamageMarks(const TDumpData& data, TCheckReport& report) {
  const std::vector<TCheckedMessage>& messages = report.Messages;
  std::vector<bool> damaged(messages.size(), false);
  for (const TDumpData::TMark& mark : data.DamageMarks()) {
    const auto after =
        std::partition_point(messages.begin(), messages.end(),
                             [&](const TCheckedMessage& m) { return m.Offset < mark.Offset; });
    const TCheckedMessage* hit = nullptr;
    if (after != messages.begin()) {
      const TCheckedMessage& m = *(after - 1);
      const int64_t end = m.Offset + m.Length;
      if (mark.Offset < end || (mark.Offset == end && !m.Complete))
        hit = &m;
    }
    if (hit)
      damaged[static_cast<size_t>(hit->Index - 1)] = true;
    TCheckProblem p;
    p.Kind = hit ? TCheckProblemKind::Damaged : TCheckProblemKind::Lost;
    p.Line = mark.Line;
    p.Offset = mark.Offset;
    p.Message = hit ? hit->Index : 0;
    p.Text = hit ? FormatText(DamagedText, hit->Index) : std::string(LostText);
    report.Problems.push_back(std::move(p));
  }
  std::erase_if(report.Problems, [&](const TCheckProblem& p) {
    return (p.Kind == TCheckProblemKind::Cut || p.Kind == TCheckProblemKind::NoEnd) &&
           p.Message > 0 && damaged[static_cast<size_t>(p.Message - 1)];
  });
}

void PlaceInterruptions(const TDumpData& data, TCheckReport& report) {
  for (const TDumpData::TMark& mark : data.Interruptions()) {
    TCheckProblem& p = report.Problems.emplace_back();
    p.Kind = TCheckProblemKind::MayBeIncomplete;
    p.Line = mark.Line;
    p.Offset = mark.Offset;
    p.Text = MayBeIncompleteText;
  }
}

std::string LineList(const std::vector<int>& lines) {
  std::string text = lines.size() == 1 ? LineText : LinesText;
  for (size_t i = 0; i < lines.size() && i < SummaryLines; ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
  if (lines.size() > SummaryLines)
    text += MoreLinesText;
  return text;
}

std::string MakersText(const TCheckReport& report) {
  std::vector<std::string> makers;
  for (const TCheckedMessage& m : report.Messages) {
    if (m.Kind != TMessageKind::SystemExclusive || m.Manufacturer.Size == 0)
      continue;
    const std::string name =
        m.ManufacturerName.empty() ? ManufacturerIdText(m.Manufacturer) : m.ManufacturerName;
    if (std::find(makers.begin(), makers.end(), name) == makers.end())
      makers.push_back(name);
  }
  std::string text;
  for (size_t i = 0; i < makers.size() && i < SummaryMakers; ++i)
    text += ", " + makers[i];
  if (makers.size() > SummaryMakers)
    text += FormatText(MoreMakersText, static_cast<int>(makers.size() - SummaryMakers));
  return text;
}

} // namespace

TDumpData::TDumpData() : FTextErrors(std::make_unique<TTextErrors>()) {
  FParser.SetShowStatus(
      [errors = FTextErrors.get()](const std::string& report, TStatusSide, TStatusKind, bool) {
        // The report starts with "line N:"; the problem carries its line apart.
        const std::string prefix = "line " + std::to_string(errors->Line) + ":";
        TCheckProblem& p = errors->Problems.emplace_back();
        p.Line = errors->Line;
        p.Offset = errors->Offset;
        p.Text = FormatText(TextErrorText, std::string_view(report).substr(
                                               report.starts_with(prefix) ? prefix.size() : 0));
      });
}

void TDumpData::AddLine(int lineNumber, std::string_view text) {
  switch (DumpMarkOf(text)) {
  case TDumpMark::Damage:
    FMarks.push_back({static_cast<int64_t>(FBytes.size()), lineNumber});
    break;
  case TDumpMark::Interruption:
    FInterruptions.push_back({static_cast<int64_t>(FBytes.size()), lineNumber});
    break;
  case TDumpMark::None:
    break;
  }
  FTextErrors->Line = lineNumber;
  FTextErrors->Offset = static_cast<int64_t>(FBytes.size());
  int count = 0;
  if (FParser.ParseLine(lineNumber - 1, Trimmed(text), count))
    AddBytes(lineNumber, FParser.MsgBuf(), static_cast<size_t>(count));
  FLastLine = std::max(FLastLine, lineNumber);
}

void TDumpData::AddBytes(int lineNumber, const uint8_t* bytes, size_t count) {
  if (count == 0)
    return;
  FLineStarts.push_back({static_cast<int64_t>(FBytes.size()), lineNumber});
  FBytes.append(reinterpret_cast<const char*>(bytes), count);
  FLastLine = std::max(FLastLine, lineNumber);
}

int TDumpData::LineAt(int64_t offset) const {
  const auto after =
      std::partition_point(FLineStarts.begin(), FLineStarts.end(),
                           [&](const TMark& start) { return start.Offset <= offset; });
  if (offset >= static_cast<int64_t>(FBytes.size()) && !FLineStarts.empty())
    return FLineStarts.back().Line;
  return after == FLineStarts.begin() ? FLastLine : (after - 1)->Line;
}

TDumpData DumpDataOfLines(const TVKStrings& lines) {
  TDumpData data;
  for (int i = 0; i < lines.Count(); ++i)
    data.AddLine(i + 1, lines[i]);
  return data;
}

TCheckReport CheckDump(const TDumpData& data) {
  TCheckReport report;
  TDumpScanner(data, report).Run();
  PlaceDamageMarks(data, report);
  PlaceInterruptions(data, report);
  report.Problems.insert(report.Problems.end(), data.TextErrors().begin(), data.TextErrors().end());
  std::stable_sort(report.Problems.begin(), report.Problems.end(),
                   [](const TCheckProblem& a, const TCheckProblem& b) {
                     return a.Line != b.Line ? a.Line < b.Line : a.Offset < b.Offset;
                   });
  // Stray bytes, comments or nothing at all: no backup and no capture to rely on.
  if (report.Messages.empty()) {
    TCheckProblem& p = report.Problems.emplace_back();
    p.Kind = TCheckProblemKind::NoMessages;
    p.Text = NoMessagesText;
  }
  return report;
}

bool IsWarning(TCheckProblemKind kind) {
  return kind == TCheckProblemKind::MayBeIncomplete;
}

TCheckVerdict CheckVerdict(const TCheckReport& report) {
  TCheckVerdict verdict = TCheckVerdict::Sound;
  for (const TCheckProblem& p : report.Problems) {
    if (!IsWarning(p.Kind))
      return TCheckVerdict::Faulty;
    verdict = TCheckVerdict::MayBeIncomplete;
  }
  return verdict;
}

std::string GroupedNumber(int64_t value) {
  const std::string digits = std::to_string(value < 0 ? -value : value);
  std::string text = value < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      text += ',';
    text += digits[i];
  }
  return text;
}

std::string CheckSummaryText(const TCheckReport& report) {
  const size_t count = report.Messages.size();
  std::string text = count == 1
                         ? std::string(OneMessageText)
                         : FormatText(MessagesText, GroupedNumber(static_cast<int64_t>(count)));
  text += MakersText(report);
  std::string problems;
  for (size_t kind = 0; kind < KindLabels.size(); ++kind) {
    int total = 0;
    std::vector<int> lines;
    for (const TCheckProblem& p : report.Problems) {
      if (static_cast<size_t>(p.Kind) != kind)
        continue;
      total += p.Count;
      if (lines.empty() || lines.back() != p.Line)
        lines.push_back(p.Line);
    }
    if (total == 0)
      continue;
    problems += problems.empty() ? ", " : "; ";
    if (kind == static_cast<size_t>(TCheckProblemKind::NoMessages)) {
      problems += KindLabels[kind].One;
      continue;
    }
    problems += GroupedNumber(total) + " " +
                (total == 1 ? KindLabels[kind].One : KindLabels[kind].Many) + ": " +
                LineList(lines);
  }
  return text + (problems.empty() ? std::string(", ") + NoProblemsText : problems);
}

std::string CheckedMessageText(const TCheckedMessage& m) {
  std::string what = m.Name;
  if (m.Manufacturer.Size != 0)
    what +=
        m.ManufacturerName.empty()
            ? FormatText(UnknownManufacturerText, ManufacturerIdText(m.Manufacturer))
            : FormatText(ManufacturerText, m.ManufacturerName, ManufacturerIdText(m.Manufacturer));
  if (m.DeviceId >= 0)
    what += FormatText(DeviceText, HexByteText(static_cast<uint8_t>(m.DeviceId)));
  if (!m.Detail.empty())
    what += ", " + m.Detail;
  return m.Length == 1 ? FormatText(OneByteMessageLineText, m.Index, what)
                       : FormatText(MessageLineText, m.Index, GroupedNumber(m.Length), what);
}

void ReportCheck(const TCheckReport& report, TStatusSide side, const TShowStatus& showStatus) {
  if (!showStatus)
    return;
  const size_t logged = std::min<size_t>(report.Problems.size(), MaxLoggedProblems);
  for (size_t i = 0; i < logged; ++i) {
    const TCheckProblem& p = report.Problems[i];
    showStatus(p.Line == 0 ? FormatText(WholeBoxLogText, p.Text)
                           : FormatText(ProblemLogText, p.Line, p.Text),
               side, IsWarning(p.Kind) ? TStatusKind::Warning : TStatusKind::Plain, false);
  }
  if (report.Problems.size() > logged)
    showStatus(FormatText(MoreProblemsText,
                          GroupedNumber(static_cast<int64_t>(report.Problems.size() - logged))),
               side, TStatusKind::Plain, false);
  showStatus(CheckSummaryText(report), side, TStatusKind::Plain, false);
}

} // namespace pelrow
