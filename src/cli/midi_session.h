// The MIDI side of a command: the service chosen as the window chooses it, and its
// ports.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_ports.h"
#include "midi/service/midi_backend_choice.h"

#include <memory>
#include <string>
#include <vector>

namespace pelrow::cli {

struct TMidiSession {
  TMidiServiceSetup Setup;
  TMidiService* Service = nullptr; // the one in Setup
  std::vector<TPort> Ports;
  // What the user is told about the choice (no MIDI system found, say).
  std::vector<std::string> Notes;
};

// Starts the MIDI system of the options under their client name. False with the
// reason when a system named on the command line cannot be used: a script that
// asks for JACK must not quietly get the loopback port alone. The session is
// usable either way (the loopback port is always there).
bool StartMidi(const TCliOptions& options, TMidiSession& session, std::string& error);

} // namespace pelrow::cli
