// The program's command line: the few options of our own, and file names, of which
// the last one opens into the Out box. An argument that starts with "-" is an
// option, and one we do not know is an error, so that a mistyped option never
// opens as a file; "--" ends the options.
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
  std::string Error; // not empty for an unknown or malformed option
};

// args are the arguments after the program path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The file names made absolute against folder (the working folder of the start),
// so that they name the same files in a running window started elsewhere and in
// the recent-files list. Names that are absolute or empty, and every name when
// folder is empty (it could not be found), stay as they are.
std::vector<std::string> AbsoluteFileNames(const std::vector<std::string>& names,
                                           const std::string& folder);

// The short usage text printed for --help and after an unknown or malformed option.
std::string UsageText(const std::string& programFile);

} // namespace pelrow
