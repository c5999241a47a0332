#include "app/qt/window_devices.h"

#include "midi/service/loopback/loopback_service.h"

namespace pelrow {

TWindowDevices::TWindowDevices(std::shared_ptr<TMidiService> service)
    : Service(service ? std::move(service) : std::make_shared<TLoopbackMidiService>()),
      Output(*Service), Input(*Service, Poster) {}

} // namespace pelrow
