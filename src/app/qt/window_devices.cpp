#include "app/qt/window_devices.h"

#include "midi/service/loopback/loopback_service.h"

namespace pelrow {

TWindowDevices::TWindowDevices(std::shared_ptr<TMidiService> service)
    : Service(service ? std::move(service) : std::make_shared<TLoopbackMidiService>()),
      Output(*Service), Input(*Service, Poster) {
  // Active Sensing and the timing clock are off until the user switches them on,
  // as the Options menu shows them.
  Input.SetActiveSensing(false);
  Input.SetTimingClock(false);
}

} // namespace pelrow
