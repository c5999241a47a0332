// The output and input device of the main window while no device menu holds them:
// made over the MIDI system chosen at start-up, closed until someone opens them.
#pragma once

#include "midi/midi_input.h"
#include "midi/midi_output.h"
#include "midi/service/midi_service.h"
#include "support/qt/qt_ui_poster.h"

#include <memory>

namespace pelrow {

struct TWindowDevices {
  // No service: the built-in loopback, so the devices always have one.
  explicit TWindowDevices(std::shared_ptr<TMidiService> service);

  std::shared_ptr<TMidiService> Service;
  TQtUiPoster Poster; // outlives the input, whose notices it carries
  TMidiOutput Output;
  TMidiInput Input;
};

} // namespace pelrow
