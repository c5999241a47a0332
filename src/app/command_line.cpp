// Splitting the command line into our options and file names.
#include "app/command_line.h"

#include <algorithm>
#include <string_view>

namespace pelrow {

namespace {

constexpr std::string_view kMidiOption = "--midi=";
constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kVersionOption = "--version";
constexpr std::string_view kEndOfOptions = "--";

constexpr const char* kBadMidiChoice = "unknown MIDI service \"%s\" (use alsa, jack or loopback)";
constexpr const char* kUsage =
    "Usage: %s [--midi=alsa|jack|loopback] [FILE...]\n"
    "Sends and receives MIDI messages, above all System Exclusive messages and\n"
    "bulk dumps. The last FILE (.syx, .mid or .txt) opens into the Midi Out box.\n"
    "\n"
    "  --midi=alsa|jack|loopback  the MIDI service to use; by default ALSA when its\n"
    "                             sequencer exists, else JACK when a server runs\n"
    "  --help                     show this text and end\n"
    "  --version                  show the version and end\n"
    "  --                         every later argument is a file name\n";

std::string ReplacePlaceholder(std::string pattern, const std::string& text) {
  const size_t at = pattern.find("%s");
  if (at != std::string::npos)
    pattern.replace(at, 2, text);
  return pattern;
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    const std::string_view a = arg;
    if (optionsEnded) {
      result.FileNames.push_back(arg);
    } else if (a == kEndOfOptions) {
      optionsEnded = true;
    } else if (a == kHelpOption) {
      result.ShowHelp = true;
    } else if (a == kVersionOption) {
      result.ShowVersion = true;
    } else if (a.starts_with(kMidiOption) || a == kMidiOption.substr(0, kMidiOption.size() - 1)) {
      const std::string value(a.substr(std::min(a.size(), kMidiOption.size())));
      if (!MidiBackendFromName(value, result.Backend) && result.Error.empty())
        result.Error = ReplacePlaceholder(kBadMidiChoice, value);
    } else {
      result.FileNames.push_back(arg);
    }
  }
  return result;
}

std::string UsageText(const std::string& programFile) {
  return ReplacePlaceholder(kUsage, programFile);
}

} // namespace pelrow
