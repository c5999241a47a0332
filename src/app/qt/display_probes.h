// The real display checks: an X server connection through libxcb (which Qt's own
// X platform uses), a Wayland socket, and Qt's Wayland platform plugin on disk.
#pragma once

#include "app/display_check.h"

namespace pelrow {

TDisplayProbes PlatformDisplayProbes();

bool XServerAnswers(const std::string& display);
bool QtHasWaylandPlugin();

} // namespace pelrow
