// Where pelrow-cli writes: the form an output takes, whether it can be written at
// all (asked before anything is listened to or read), and saving a capture so that
// it is never thrown away.
#pragma once

#include "app/file_saver.h"
#include "cli/cli_commands.h"

#include <string>

namespace pelrow::cli {

// The name messages give standard output.
inline constexpr char StandardOutputName[] = "standard output";

// The form of an output: ".syx" raw bytes, ".txt" hex lines; standard output and
// anything that is not a regular file (a device, a FIFO) without one of these
// extensions get hex lines, as a terminal shows them. Any other name is refused
// (an unknown extension is more likely a mistake than a wish for raw bytes).
bool OutputFormOf(const std::string& fileName, TSaveForm& form, std::string& error);

// Whether a file of that name can be written: not a folder, not read-only, in a
// folder that exists and may be written to. False with the file and the reason in
// error.
bool CheckOutputFile(const std::string& fileName, std::string& error);

// Saves captured lines to fileName. When that fails, they are saved beside it
// under a new name, else in the temporary folder, and standard error says where.
// True when they reached fileName itself.
bool SaveCapture(const std::string& fileName, const TVKStrings& lines, TCliStreams& streams);

} // namespace pelrow::cli
