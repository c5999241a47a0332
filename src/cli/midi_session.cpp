// Starting the MIDI system for a command.
#include "cli/midi_session.h"

namespace pelrow::cli {

bool StartMidi(TMidiBackendKind kind, TMidiSession& session, std::string& error) {
  session.Setup = CreateMidiService(kind, PlatformMidiBackends());
  // The choice always ends with the name of the system in use, which is no news
  // here; anything before it is.
  session.Notes = session.Setup.Messages;
  if (!session.Notes.empty())
    session.Notes.pop_back();
  const bool named = kind == TMidiBackendKind::Alsa || kind == TMidiBackendKind::Jack;
  if (named && !session.Notes.empty()) {
    error = session.Notes.front();
    return false;
  }
  session.Service = session.Setup.Service.get();
  session.Ports = ListPorts(*session.Service);
  return true;
}

} // namespace pelrow::cli
