// pelrow-cli: the send, receive, request and convert jobs of Pelrow from a
// terminal or a script, without a display.
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "support/product_info.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace {
constexpr const char* TextUsageError = "pelrow-cli: %s (see \"pelrow-cli%s%s --help\")\n";
constexpr const char* TextVersion = "pelrow-cli %s\n";
} // namespace

int main(int argc, char* argv[]) {
  using namespace pelrow::cli;
  const TCliOptions options = ParseCliArguments({argv + 1, argv + argc});
  if (options.ShowHelp) {
    std::fputs((options.ShowAllHelp ? AllHelpText() : HelpText(options.Command)).c_str(), stdout);
    return ExitOk;
  }
  if (!options.Error.empty()) {
    const bool command = options.Command != TCommand::None;
    std::fprintf(stderr, TextUsageError, options.Error.c_str(), command ? " " : "",
                 command ? CommandName(options.Command) : "");
    return ExitUsage;
  }
  if (options.ShowVersion) {
    std::printf(TextVersion, pelrow::ProgramVersion().c_str());
    return ExitOk;
  }
  InstallInterruptHandler();
  TCliStreams streams;
  streams.In = &std::cin;
  streams.ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
  const int status = RunCommand(options, streams);
  std::fflush(stdout);
  return status;
}
