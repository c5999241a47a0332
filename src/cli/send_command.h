// pelrow-cli send, and the sending half of request: the lines go through the
// window's send engine, at its pace, to an output opened for the purpose, and the
// command ends once the output has passed everything on.
#pragma once

#include "cli/cli_commands.h"
#include "cli/cli_ports.h"
#include "cli/send_input.h"
#include "midi/service/midi_service.h"

#include <cstdint>
#include <functional>

namespace pelrow::cli {

// Waits about ms; the sender's chance to do other work (take input, say).
using TWaitFunction = std::function<void(uint32_t ms)>;

// Sends the input to port; answers the exit status.
int SendToPort(const TCliOptions& options, TCliStreams& streams, TMidiService& service,
               const TPort& port, const TSendInput& input, const TWaitFunction& wait);

int RunSend(const TCliOptions& options, TCliStreams& streams);

} // namespace pelrow::cli
