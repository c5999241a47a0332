// pelrow-cli receive and request: input taken from a device, kept as the window's
// In box would show it, and written when the capture ends, also after Ctrl-C.
#pragma once

#include "cli/cli_commands.h"

namespace pelrow::cli {

int RunReceive(const TCliOptions& options, TCliStreams& streams);
// Opens the input, sends the request through the send engine, then captures.
int RunRequest(const TCliOptions& options, TCliStreams& streams);

} // namespace pelrow::cli
