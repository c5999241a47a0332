// The program's command line: the few options of our own, and file names. Options
// come out first; every other argument is a file name, of which the last one opens
// into the Out box.
#pragma once

#include "midi/service/midi_backend_choice.h"

#include <string>
#include <vector>

namespace pelrow {

struct TCommandLine {
  TMidiBackendKind Backend = TMidiBackendKind::Auto;
  bool ShowHelp = false;
  bool ShowVersion = false;
  std::vector<std::string> FileNames;
  std::string Error; // not empty when an option of ours is malformed
};

// args are the arguments after the program path. "--" ends the options, so that a
// file whose name starts with "--" can still be opened.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The short usage text printed for --help and after a malformed option.
std::string UsageText(const std::string& programFile);

} // namespace pelrow
