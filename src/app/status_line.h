// What ShowStatus does with a report, and the rule for the height of the log area.
// The main window carries these out on its widgets.
#pragma once

#include "app/status_report.h"

#include <string>
#include <vector>

namespace pelrow {

struct TStatusPlan {
  // Text for the side's status panel, on one line; empty clears it.
  std::string Shown;
  // The side's newest log lines: a report of several lines (what failed, then the
  // system's reason) keeps its lines there. Empty when nothing goes to the log.
  std::vector<std::string> LogLines;
  bool ShowErrorBox; // raise a modal error box with the report's own text
};

TStatusPlan PlanStatus(const std::string& text, TStatusKind kind);

// The log area may take at most two thirds of the Out box when it is shown again,
// so the boxes never vanish behind a tall stored log height.
int LogHeightWhenShown(int outBoxHeight, int logHeight);

} // namespace pelrow
