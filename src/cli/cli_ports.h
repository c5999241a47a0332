// The MIDI ports as pelrow-cli shows and finds them: every input and output of the
// chosen MIDI system, by the exact name that --in and --out take, and by the names
// users know besides.
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
  int Index = 0;       // the service's device index
  std::string Address; // "20:0" for ALSA; empty where there is none
};

// Inputs first, then outputs, each in the service's order.
std::vector<TPort> ListPorts(TMidiService& service);

// One port a line: "in" or "out", a tab, the name.
std::string PortListText(const std::vector<TPort>& ports);
// [{"direction": "in", "name": "..."}, ...] and a line break.
std::string PortListJson(const std::vector<TPort>& ports);
// The text as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// The port of that direction named exactly so or with that address, else the only
// one whose name matches as the window matches device names (letter case and
// blanks ignored), else the only one whose name holds name so matched. Nothing,
// with a message, when no port or more than one matches: the ports there are, or
// those that match.
const TPort* FindPort(const std::vector<TPort>& ports, TPortDirection direction,
                      const std::string& name, std::string& error);

} // namespace pelrow::cli
