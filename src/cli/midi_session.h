// The MIDI side of a command: the service chosen as the window chooses it, and its
// ports.
#pragma once

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

// False with the reason when a MIDI system named on the command line cannot be
// used: a script that asks for JACK must not quietly get the loopback port alone.
bool StartMidi(TMidiBackendKind kind, TMidiSession& session, std::string& error);

} // namespace pelrow::cli
