// The five commands of pelrow-cli over the program's core: the MIDI service chosen
// as the window chooses it, the send engine, the input device, the file loader and
// saver. A command answers its exit status; what went wrong has then been said on
// standard error in one line.
#pragma once

#include "cli/cli_options.h"

#include <cstdio>
#include <istream>
#include <string>

namespace pelrow::cli {

struct TCliStreams {
  std::FILE* Out = stdout;
  std::FILE* Err = stderr;
  std::istream* In = nullptr; // standard input for "send -"
  // Progress and summaries are for a person watching; a script gets silence.
  bool ErrIsTerminal = false;
};

int RunCommand(const TCliOptions& options, TCliStreams& streams);

// "pelrow-cli: " and the text as one line.
void ReportError(TCliStreams& streams, const std::string& text);
// A device message of several lines ("context:\r\nreason") as one.
std::string OneLine(const std::string& text);

// Whether a file of that name can be written: not a folder, in a folder that
// exists and may be written to. False with the reason in error.
bool CheckOutputFile(const std::string& fileName, std::string& error);

} // namespace pelrow::cli
