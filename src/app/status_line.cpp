// The status line's rules: error prefix, which reports reach the log, when a box shows.
#include "app/status_line.h"

#include "support/text_format.h"

namespace pelrow {

namespace {
constexpr const char* kErrorFormat = "Error: %s";
constexpr const char* kWarningFormat = "Warning: %s";

// The lines of a text broken by CR LF, LF or CR; empty lines are dropped.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char c : text) {
    if (c != '\r' && c != '\n') {
      line += c;
    } else if (!line.empty()) {
      lines.push_back(std::move(line));
      line.clear();
    }
  }
  if (!line.empty() || lines.empty())
    lines.push_back(std::move(line));
  return lines;
}

} // namespace

TStatusPlan PlanStatus(const std::string& text, TStatusKind kind) {
  const bool isError = kind == TStatusKind::Error || kind == TStatusKind::ErrorBox;
  const std::string shown = isError                        ? FormatText(kErrorFormat, text)
                            : kind == TStatusKind::Warning ? FormatText(kWarningFormat, text)
                                                           : text;
  TStatusPlan plan;
  // The one-line panel shows every line, joined by a blank, so the reason after a
  // line break is not cut off.
  for (std::string& line : LinesOf(shown)) {
    plan.Shown += (plan.Shown.empty() ? "" : " ") + line;
    plan.LogLines.push_back(std::move(line));
  }
  if (kind == TStatusKind::StatusOnly || plan.Shown.empty())
    plan.LogLines.clear();
  plan.ShowErrorBox = kind == TStatusKind::ErrorBox;
  return plan;
}

int LogHeightWhenShown(int outBoxHeight, int logHeight) {
  const int limit = outBoxHeight * 2 / 3;
  return limit < logHeight ? limit : logHeight;
}

} // namespace pelrow
