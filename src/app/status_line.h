// What ShowStatus does with a report, and the rule for the height of the log area.
// The main window carries these out on its widgets.
#pragma once

#include "app/status_report.h"

#include <string>

namespace pelrow {

struct TStatusPlan {
  std::string Shown; // text for the side's status panel; empty clears it
  bool AppendToLog;  // add Shown as the side's newest log line
  bool ShowErrorBox; // raise a modal error box with the report's own text
};

TStatusPlan PlanStatus(const std::string& text, TStatusKind kind);

// The log area may take at most two thirds of the Out box when it is shown again,
// so the boxes never vanish behind a tall stored log height.
int LogHeightWhenShown(int outBoxHeight, int logHeight);

} // namespace pelrow
