// Starting the MIDI system for a command.
#include "cli/midi_session.h"

namespace pelrow::cli {

bool StartMidi(const TCliOptions& options, TMidiSession& session, std::string& error) {
  TMidiClientSettings& client = MidiClientSettings();
  if (!options.ClientName.empty())
    client.Name = options.ClientName;
  // A capture listens before its port is connected: a source that sends at once
  // loses nothing.
  client.ListenAtConnect = true;
  session.Setup = CreateMidiService(options.Backend, PlatformMidiBackends());
  // The choice always ends with the name of the system in use, which is no news
  // here; anything before it is.
  session.Notes = session.Setup.Messages;
  if (!session.Notes.empty())
    session.Notes.pop_back();
  session.Service = session.Setup.Service.get();
  session.Ports = ListPorts(*session.Service);
  error = session.Setup.Error;
  return error.empty();
}

} // namespace pelrow::cli
