// The MIDI ports as pelrow-cli shows and finds them: every input and output of the
// chosen MIDI system, by the exact name that --in and --out take.
#pragma once

#include "midi/service/midi_service.h"

#include <string>
#include <string_view>
#include <vector>

namespace pelrow::cli {

enum class TPortDirection { In, Out };

struct TPort {
  TPortDirection Direction = TPortDirection::In;
  std::string Name;
  int Index = 0; // the service's device index
};

// Inputs first, then outputs, each in the service's order.
std::vector<TPort> ListPorts(TMidiService& service);

// One port a line: "in" or "out", a tab, the name.
std::string PortListText(const std::vector<TPort>& ports);
// [{"direction": "in", "name": "..."}, ...] and a line break.
std::string PortListJson(const std::vector<TPort>& ports);
// The text as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// The port of that direction named exactly so, else the only one whose name matches
// as the window matches device names (letter case and blanks ignored). Nothing,
// with a message that lists the ports there are, when there is no such port.
const TPort* FindPort(const std::vector<TPort>& ports, TPortDirection direction,
                      const std::string& name, std::string& error);

} // namespace pelrow::cli
