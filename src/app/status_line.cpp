// The status line's rules: error prefix, which reports reach the log, when a box shows.
#include "app/status_line.h"

#include "support/text_format.h"

namespace pelrow {

namespace {
constexpr const char* kErrorFormat = "Error: %s";
constexpr const char* kWarningFormat = "Warning: %s";
} // namespace

TStatusPlan PlanStatus(const std::string& text, TStatusKind kind) {
  const bool isError = kind == TStatusKind::Error || kind == TStatusKind::ErrorBox;
  TStatusPlan plan;
  plan.Shown = isError                        ? FormatText(kErrorFormat, text)
               : kind == TStatusKind::Warning ? FormatText(kWarningFormat, text)
                                              : text;
  plan.AppendToLog = kind != TStatusKind::StatusOnly && !plan.Shown.empty();
  plan.ShowErrorBox = kind == TStatusKind::ErrorBox;
  return plan;
}

int LogHeightWhenShown(int outBoxHeight, int logHeight) {
  const int limit = outBoxHeight * 2 / 3;
  return limit < logHeight ? limit : logHeight;
}

} // namespace pelrow
