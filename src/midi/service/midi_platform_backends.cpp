// The platform backends this build has. Kept apart from the choice itself so that
// only the program links the backends it may start.
#include "midi/service/midi_backend_choice.h"

#include <filesystem>
#include <system_error>

namespace pelrow {

namespace {
constexpr const char* SequencerDevice = "/dev/snd/seq";
} // namespace

TMidiBackendFactories PlatformMidiBackends(bool awaitJack) {
  TMidiBackendFactories factories;
  factories.SequencerPresent = [] {
    std::error_code ignored;
    return std::filesystem::exists(SequencerDevice, ignored);
  };
#ifdef PELROW_HAVE_ALSA
  factories.Alsa = CreateAlsaMidiService;
#endif
#ifdef PELROW_HAVE_JACK
  factories.Jack = CreateJackMidiService;
  if (awaitJack)
    factories.JackAwaitingServer = CreateJackMidiServiceAwaitingServer;
#else
  (void)awaitJack;
#endif
  return factories;
}

} // namespace pelrow
