// The one way the program reports to the user: a text for the Out or In side's
// status panel and action log. Plain units take a TShowStatus and the main window
// supplies its ShowStatus.
#pragma once

#include <functional>
#include <string>

namespace pelrow {

enum class TStatusSide { Out = 0, In = 1 };

enum class TStatusKind {
  Plain = 0,        // status panel and log
  Error = 1,        // "Error: %s" in status panel and log
  ErrorBox = 2,     // as Error, plus a modal message box
  StatusOnly = 3,   // status panel only, no log line
  Warning = 4,      // "Warning: %s" in status panel and log: data may be missing
};

using TShowStatus =
    std::function<void(const std::string& text, TStatusSide side, TStatusKind kind, bool immediate)>;

} // namespace pelrow
