#include "cli/check_command.h"

#include "app/file_loader.h"
#include "cli/cli_ports.h"
#include "cli/interrupt.h"
#include "cli/send_input.h"
#include "editor/vkstrings.h"

#include <array>

namespace pelrow::cli {

namespace {

// By TCheckProblemKind.
constexpr std::array<const char*, 11> ProblemKindNames{
    "text", "no-end",   "cut",        "byte-above-7f", "outside",          "damaged",
    "lost", "checksum", "byte-count", "no-messages",   "may-be-incomplete"};

// Line 0 stands for the whole file.
std::string Place(const std::string& name, int line) {
  return line == 0 ? name + ": " : name + ":" + std::to_string(line) + ": ";
}

// The source's lines as the window would show them: a file opened as the window
// opens it, standard input as hex text or, when it holds raw bytes, as the lines
// of a loaded ".syx".
bool ReadCheckLines(const TSendItem& item, const TCliOptions& options, TCliStreams& streams,
                    TVKStrings& lines, std::string& error) {
  if (item.Kind == TSendItem::TKind::File)
    return LoadFileLines(item.Text, -1, lines, error);
  return ReadStandardInput(streams.In, options.InputFormat, -1, lines, error);
}

std::string JsonNumberOrNull(int value) {
  return value < 0 ? "null" : std::to_string(value);
}

std::string MessageJson(const TCheckedMessage& m) {
  return "{\"index\": " + std::to_string(m.Index) + ", \"line\": " + std::to_string(m.Line) +
         ", \"offset\": " + std::to_string(m.Offset) + ", \"length\": " + std::to_string(m.Length) +
         ", \"name\": " + JsonString(m.Name) + ", \"manufacturer\": " +
         (m.Manufacturer.Size == 0 ? "null" : JsonString(m.ManufacturerName)) +
         ", \"manufacturerId\": " +
         (m.Manufacturer.Size == 0 ? "null" : JsonString(ManufacturerIdText(m.Manufacturer))) +
         ", \"device\": " + JsonNumberOrNull(m.DeviceId) + ", \"detail\": " + JsonString(m.Detail) +
         ", \"complete\": " + (m.Complete ? "true" : "false") + "}";
}

std::string ProblemJson(const TCheckProblem& p) {
  return "{\"kind\": " + JsonString(ProblemKindNames[static_cast<size_t>(p.Kind)]) +
         ", \"line\": " + (p.Line == 0 ? "null" : std::to_string(p.Line)) +
         ", \"offset\": " + std::to_string(p.Offset) +
         ", \"message\": " + (p.Message == 0 ? "null" : std::to_string(p.Message)) +
         ", \"text\": " + JsonString(p.Text) + "}";
}

template <typename T, typename F> std::string JsonArray(const std::vector<T>& items, F toJson) {
  std::string json = "[";
  for (size_t i = 0; i < items.size(); ++i)
    json += (i == 0 ? "\n    " : ",\n    ") + toJson(items[i]);
  return json + (items.empty() ? "]" : "\n  ]");
}

} // namespace

std::string CheckReportText(const std::string& name, const TCheckReport& report, bool quiet) {
  std::string text;
  const auto addProblem = [&](const TCheckProblem& p) {
    text += Place(name, p.Line) + p.Text + "\n";
  };
  if (quiet) {
    for (const TCheckProblem& p : report.Problems)
      addProblem(p);
    return text;
  }
  // Each message is followed by its own problems; the others come where they are.
  std::vector<std::vector<const TCheckProblem*>> ofMessage(report.Messages.size());
  std::vector<const TCheckProblem*> loose;
  for (const TCheckProblem& p : report.Problems) {
    if (p.Message > 0)
      ofMessage[static_cast<size_t>(p.Message - 1)].push_back(&p);
    else
      loose.push_back(&p);
  }
  size_t next = 0;
  for (const TCheckedMessage& m : report.Messages) {
    for (; next < loose.size() && loose[next]->Offset <= m.Offset; ++next)
      addProblem(*loose[next]);
    text += Place(name, m.Line) + CheckedMessageText(m) + "\n";
    for (const TCheckProblem* p : ofMessage[static_cast<size_t>(m.Index - 1)])
      addProblem(*p);
  }
  for (; next < loose.size(); ++next)
    addProblem(*loose[next]);
  return text + name + ": " + CheckSummaryText(report) + "\n";
}

std::string CheckReportJson(const std::string& name, const TCheckReport& report, bool quiet) {
  std::string json =
      "{\"file\": " + JsonString(name) + ", \"summary\": " + JsonString(CheckSummaryText(report));
  if (!quiet)
    json += ",\n  \"messages\": " + JsonArray(report.Messages, MessageJson);
  return json + ",\n  \"problems\": " + JsonArray(report.Problems, ProblemJson) + "}";
}

int RunCheck(const TCliOptions& options, TCliStreams& streams) {
  bool anyProblem = false;
  bool anyWarning = false;
  std::string json;
  for (const TSendItem& item : options.SendItems) {
    const std::string name = item.Kind == TSendItem::TKind::File ? item.Text : StandardInputName;
    TVKStrings lines;
    std::string error;
    if (!ReadCheckLines(item, options, streams, lines, error)) {
      if (Interrupted())
        return InterruptedStatus();
      ReportError(streams, error);
      anyProblem = true;
      continue;
    }
    const TCheckReport report = CheckDump(DumpDataOfLines(lines));
    const TCheckVerdict verdict = CheckVerdict(report);
    anyProblem = anyProblem || verdict == TCheckVerdict::Faulty;
    anyWarning = anyWarning || verdict == TCheckVerdict::MayBeIncomplete;
    if (options.Json) {
      json +=
          (json.empty() ? "[\n  " : ",\n  ") + CheckReportJson(name, report, options.QuietCheck);
      continue;
    }
    streams.Out->Write(CheckReportText(name, report, options.QuietCheck));
  }
  if (options.Json)
    streams.Out->Write(json.empty() ? std::string("[]\n") : json + "\n]\n");
  // A problem anywhere outweighs a file that may only be incomplete.
  if (anyProblem)
    return ExitBadInput;
  return anyWarning ? ExitMaybeIncomplete : ExitOk;
}

} // namespace pelrow::cli
