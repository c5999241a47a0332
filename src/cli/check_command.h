// pelrow-cli check: the window's dump check on files and standard input. One line
// per message and one per problem, "FILE:LINE: ...", and a summary per file; only
// the problems with --quiet; JSON with --json. Exit status 1 when anything is
// wrong with any of them (a file without any message included), else 4 when one
// holds a mark of an interruption of the MIDI system.
#pragma once

#include "app/dump_check.h"
#include "cli/cli_commands.h"

#include <string>

namespace pelrow::cli {

int RunCheck(const TCliOptions& options, TCliStreams& streams);

// The report of one source as text or as a JSON object (no line break at its end).
std::string CheckReportText(const std::string& name, const TCheckReport& report, bool quiet);
std::string CheckReportJson(const std::string& name, const TCheckReport& report, bool quiet);

} // namespace pelrow::cli
