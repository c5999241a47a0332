// Listing and finding the MIDI ports.
#include "cli/cli_ports.h"

#include "support/text_format.h"
#include "midi/midi_records.h"

#include <cstdio>

namespace pelrow::cli {

namespace {
constexpr const char* TextNoSuchPort = "no MIDI %s \"%s\"; the %ss are %s";
constexpr const char* TextNoPorts = "no MIDI %s \"%s\"; there are no MIDI %ss";
constexpr const char* TextAmbiguous = "the MIDI %s \"%s\" is ambiguous: it matches %s";

const char* DirectionText(TPortDirection direction) {
  return direction == TPortDirection::In ? "in" : "out";
}

const char* DirectionNoun(TPortDirection direction) {
  return direction == TPortDirection::In ? "input" : "output";
}
} // namespace

std::vector<TPort> ListPorts(TMidiService& service) {
  std::vector<TPort> ports;
  const int inputs = service.InputCount();
  for (int i = 0; i < inputs; ++i) {
    std::string name;
    if (service.InputName(i, name) == MidiOk)
      ports.push_back({TPortDirection::In, name, i, service.InputAddress(i)});
  }
  const int outputs = service.OutputCount();
  for (int i = 0; i < outputs; ++i) {
    std::string name;
    if (service.OutputName(i, name) == MidiOk)
      ports.push_back({TPortDirection::Out, name, i, service.OutputAddress(i)});
  }
  return ports;
}

std::string PortListText(const std::vector<TPort>& ports) {
  std::string text;
  for (const TPort& port : ports)
    text += std::string(DirectionText(port.Direction)) + "\t" + port.Name + "\n";
  return text;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string PortListJson(const std::vector<TPort>& ports) {
  std::string json = "[";
  for (size_t i = 0; i < ports.size(); ++i) {
    json += i == 0 ? "\n" : ",\n";
    json += "  {\"direction\": ";
    json += JsonString(DirectionText(ports[i].Direction));
    json += ", \"name\": " + JsonString(ports[i].Name) + "}";
  }
  return json + (ports.empty() ? "]\n" : "\n]\n");
}

namespace {
std::string QuotedNames(const std::vector<const TPort*>& ports) {
  std::string names;
  for (const TPort* port : ports)
    names += (names.empty() ? "\"" : ", \"") + port->Name + "\"";
  return names;
}
} // namespace

const TPort* FindPort(const std::vector<TPort>& ports, TPortDirection direction,
                      const std::string& name, std::string& error) {
  std::vector<const TPort*> all, same, containing;
  const std::string folded = FoldedDeviceName(name);
  for (const TPort& port : ports) {
    if (port.Direction != direction)
      continue;
    if (port.Name == name || (!port.Address.empty() && port.Address == name))
      return &port;
    all.push_back(&port);
    const std::string portName = FoldedDeviceName(port.Name);
    if (portName == folded)
      same.push_back(&port);
    else if (!folded.empty() && portName.find(folded) != std::string::npos)
      containing.push_back(&port);
  }
  // Names that differ only in case or blanks are as close as names get: a part of
  // another name does not make them less ambiguous.
  const std::vector<const TPort*>& matches = same.empty() ? containing : same;
  if (matches.size() == 1)
    return matches.front();
  const char* noun = DirectionNoun(direction);
  if (matches.size() > 1)
    error = FormatText(TextAmbiguous, noun, name.c_str(), QuotedNames(matches).c_str());
  else if (all.empty())
    error = FormatText(TextNoPorts, noun, name.c_str(), noun);
  else
    error = FormatText(TextNoSuchPort, noun, name.c_str(), noun, QuotedNames(all).c_str());
  return nullptr;
}

} // namespace pelrow::cli
