// Fuzz target for the Standard MIDI File reader: any bytes must either load into
// tracks that end with their end-of-track marker or raise ESMF leaving it empty.
#include "files/midi_smf.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelrow::TSMF smf;
  try {
    smf.LoadFromMemory({data, size});
  } catch (const pelrow::ESMF&) {
    if (smf.TrackCount() != 0)
      std::abort();
    return 0;
  }
  for (int i = 0; i < smf.TrackCount(); ++i) {
    const pelrow::TMidiEventList& events = smf.GetTrack(i)->Events();
    if (events.empty() || !events.back().IsEndOfTrack())
      std::abort();
    for (const pelrow::TMidiEvent& event : events)
      if (event.Time < 0 || event.Size < 0)
        std::abort();
  }
  return 0;
}
