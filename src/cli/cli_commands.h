// The five commands of pelrow-cli over the program's core: the MIDI service chosen
// as the window chooses it, the send engine, the input device, the file loader and
// saver. A command answers its exit status; what went wrong has then been said on
// standard error in one line.
#pragma once

#include "cli/cli_options.h"

#include "support/safe_file.h"

#include <cstdio>
#include <string>

namespace pelrow::cli {

struct TCliStreams {
  // Every write checked: a failure ends the command (see FinishOutput).
  TOutputTarget* Out = nullptr;
  std::FILE* Err = stderr;
  int In = 0; // standard input for "-"
  // Progress and summaries are for a person watching; a script gets silence.
  bool ErrIsTerminal = false;
};

int RunCommand(const TCliOptions& options, TCliStreams& streams);

// "pelrow-cli: " and the text as one line; control characters and bytes that are
// no UTF-8 are shown as hex ("<8F>"), never passed to the terminal.
void ReportError(TCliStreams& streams, const std::string& text);
// The text as ReportError shows it.
std::string ShownText(const std::string& text);
// A device message of several lines ("context:\r\nreason") as one.
std::string OneLine(const std::string& text);

// The status of the command once its standard output is written out: a reader
// that went away ends the program as SIGPIPE ends any tool in a pipe (the shell
// sees 141); another failure is said, and fails a command that had succeeded
// with failureStatus.
int FinishOutput(TCliStreams& streams, int status, int failureStatus);

} // namespace pelrow::cli
