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

std::unique_ptr<TMidiService> TryBackend(const char* name, const TMidiServiceFactory& factory,
                                         std::vector<std::string>& messages, bool reportFailure) {
  std::string failure = TextBackendMissing;
  std::unique_ptr<TMidiService> service = factory ? factory(failure) : nullptr;
  if (service == nullptr && reportFailure)
    messages.push_back(FormatText(TextBackendFailed, name, failure));
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
  switch (kind) {
  case TMidiBackendKind::Alsa:
    platform = TryBackend("ALSA", factories.Alsa, setup.Messages, true);
    break;
  case TMidiBackendKind::Jack:
    platform = TryBackend("JACK", factories.Jack, setup.Messages, true);
    break;
  case TMidiBackendKind::Auto:
    if (factories.SequencerPresent && factories.SequencerPresent())
      platform = TryBackend("ALSA", factories.Alsa, setup.Messages, true);
    if (platform == nullptr)
      platform = TryBackend("JACK", factories.Jack, setup.Messages, false);
    if (platform == nullptr)
      setup.Messages.push_back(TextNoPlatformMidi);
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
  setup.Messages.push_back(FormatText(TextUsing, setup.Service->Name()));
  return setup;
}

} // namespace pelrow
