// Which MIDI backend the program runs: "--midi=alsa|jack|loopback" on the command
// line, else the ALSA sequencer when its device exists, else JACK when a server
// answers. The loopback ports are listed in every case, after the platform's.
#pragma once

#include "midi/service/midi_service.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

class TLoopbackMidiService;

enum class TMidiBackendKind { Auto, Alsa, Jack, Loopback };

// The backend named on the command line ("alsa", "jack" or "loopback"); false
// for any other name, leaving kind alone.
bool MidiBackendFromName(std::string_view name, TMidiBackendKind& kind);

using TMidiServiceFactory = std::function<std::unique_ptr<TMidiService>(std::string& failure)>;

struct TMidiBackendFactories {
  std::function<bool()> SequencerPresent;
  TMidiServiceFactory Alsa; // empty where the backend is not built
  TMidiServiceFactory Jack;
  // JACK named by the user while no server runs yet: a service that waits for one.
  // Empty: the choice fails instead.
  std::function<std::unique_ptr<TMidiService>()> JackAwaitingServer;
};

// The backends this build has, and the real sequencer device check. awaitJack:
// JACK named by the user waits for a server that is not running yet (the window
// does; a command has nothing to wait for).
TMidiBackendFactories PlatformMidiBackends(bool awaitJack = false);

struct TMidiServiceSetup {
  std::unique_ptr<TMidiService> Service;
  TLoopbackMidiService* Loopback = nullptr; // owned by Service
  std::vector<std::string> Messages;        // what the user is told about the choice
  // Why the backend the user asked for by name cannot be used; empty otherwise.
  // It is an error for the user, told after Messages.
  std::string Error;
};

TMidiServiceSetup CreateMidiService(TMidiBackendKind kind, const TMidiBackendFactories& factories);

} // namespace pelrow
