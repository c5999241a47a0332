// The start-up choice of the MIDI backend.
#include "midi/service/midi_backend_choice.h"

#include "midi/service/combined_service.h"
#include "midi/service/loopback/loopback_service.h"

namespace pelrow {

namespace {
constexpr const char* TextBackendFailed = "Cannot use %s: %s";
constexpr const char* TextBackendMissing = "this build has no support for it";
constexpr const char* TextNoPlatformMidi =
    "No MIDI system found (neither the ALSA sequencer nor a JACK server): only the loopback "
    "port is available";
constexpr const char* TextUsing = "MIDI system: %s";
constexpr const char* TextAwaitingJack =
    "No JACK server is running yet: its ports are listed as soon as one starts";

// A failure goes to report when there is one to tell.
std::unique_ptr<TMidiService> TryBackend(const char* name, const TMidiServiceFactory& factory,
                                         std::string* report) {
  std::string failure = TextBackendMissing;
  std::unique_ptr<TMidiService> service = factory ? factory(failure) : nullptr;
  if (service == nullptr && report != nullptr)
    *report = FormatText(TextBackendFailed, name, failure);
  return service;
}
} // namespace

bool MidiBackendFromName(std::string_view name, TMidiBackendKind& kind) {
  if (name == "alsa")
    kind = TMidiBackendKind::Alsa;
  else if (name == "jack")
    kind = TMidiBackendKind::Jack;
  else if (name == "loopback")
    kind = TMidiBackendKind::Loopback;
  else
    return false;
  return true;
}

TMidiServiceSetup CreateMidiService(TMidiBackendKind kind, const TMidiBackendFactories& factories) {
  TMidiServiceSetup setup;
  std::unique_ptr<TMidiService> platform;
  bool noneFound = false;
  switch (kind) {
  case TMidiBackendKind::Alsa:
    platform = TryBackend("ALSA", factories.Alsa, &setup.Error);
    break;
  case TMidiBackendKind::Jack:
    platform = TryBackend("JACK", factories.Jack, &setup.Error);
    if (platform == nullptr && factories.JackAwaitingServer) {
      platform = factories.JackAwaitingServer();
      setup.Error.clear();
      setup.Messages.push_back(TextAwaitingJack);
    }
    break;
  case TMidiBackendKind::Auto:
    if (factories.SequencerPresent && factories.SequencerPresent()) {
      std::string failure;
      platform = TryBackend("ALSA", factories.Alsa, &failure);
      if (platform == nullptr)
        setup.Messages.push_back(failure);
    }
    if (platform == nullptr)
      platform = TryBackend("JACK", factories.Jack, nullptr);
    noneFound = platform == nullptr;
    break;
  case TMidiBackendKind::Loopback:
    break;
  }
  auto loopback = std::make_unique<TLoopbackMidiService>();
  setup.Loopback = loopback.get();
  std::vector<std::unique_ptr<TMidiService>> parts;
  if (platform != nullptr)
    parts.push_back(std::move(platform));
  parts.push_back(std::move(loopback));
  setup.Service = std::make_unique<TCombinedMidiService>(std::move(parts));
  // The last message stays in the status line, so when the automatic choice finds
  // no MIDI system that is what it says.
  setup.Messages.push_back(noneFound ? std::string(TextNoPlatformMidi)
                                     : FormatText(TextUsing, setup.Service->Name()));
  return setup;
}

} // namespace pelrow
