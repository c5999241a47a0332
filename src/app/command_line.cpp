// Splitting the command line into our options and file names.
#include "app/command_line.h"

#include "support/text_format.h"

#include <algorithm>
#include <string_view>

namespace pelrow {

namespace {

constexpr std::string_view kMidiOption = "--midi=";
constexpr std::string_view kHelpOptions[] = {"--help", "-h"};
constexpr std::string_view kVersionOptions[] = {"--version", "-v"};
constexpr std::string_view kEndOfOptions = "--";

constexpr const char* kBadMidiChoice = "unknown MIDI service \"%s\" (use alsa, jack or loopback)";
constexpr const char* kUnknownOption = "unknown option \"%s\"";
constexpr const char* kUsage =
    "Usage: %s [--midi=alsa|jack|loopback] [--] [FILE...]\n"
    "Sends and receives MIDI messages, above all System Exclusive messages and\n"
    "bulk dumps. The last FILE (.syx, .mid or .txt) opens into the Midi Out box.\n"
    "\n"
    "  --midi=alsa|jack|loopback  the MIDI service to use; by default ALSA when its\n"
    "                             sequencer exists, else JACK when a server runs\n"
    "  -h, --help                 show this text and end\n"
    "  -v, --version              show the version and end\n"
    "  --                         every later argument is a file name, also one\n"
    "                             that starts with \"-\"\n";

bool OneOf(std::string_view arg, const auto& options) {
  return std::find(std::begin(options), std::end(options), arg) != std::end(options);
}

void NoteError(TCommandLine& result, std::string error) {
  // The first problem is the one the user is told about.
  if (result.Error.empty())
    result.Error = std::move(error);
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    const std::string_view a = arg;
    if (optionsEnded || !a.starts_with('-')) {
      result.FileNames.push_back(arg);
    } else if (a == kEndOfOptions) {
      optionsEnded = true;
    } else if (OneOf(a, kHelpOptions)) {
      result.ShowHelp = true;
    } else if (OneOf(a, kVersionOptions)) {
      result.ShowVersion = true;
    } else if (a.starts_with(kMidiOption) || a == kMidiOption.substr(0, kMidiOption.size() - 1)) {
      const std::string value(a.substr(std::min(a.size(), kMidiOption.size())));
      if (!MidiBackendFromName(value, result.Backend))
        NoteError(result, FormatText(kBadMidiChoice, value));
    } else {
      NoteError(result, FormatText(kUnknownOption, arg));
    }
  }
  return result;
}

std::vector<std::string> AbsoluteFileNames(const std::vector<std::string>& names,
                                           const std::string& folder) {
  const std::string base = folder.ends_with('/') ? folder : folder + "/";
  std::vector<std::string> absolute;
  absolute.reserve(names.size());
  for (const std::string& name : names) {
    if (name.empty() || name.starts_with('/') || folder.empty())
      absolute.push_back(name);
    else
      absolute.push_back(base + (name.starts_with("./") ? name.substr(2) : name));
  }
  return absolute;
}

std::string UsageText(const std::string& programFile) {
  return FormatText(kUsage, programFile);
}

} // namespace pelrow
