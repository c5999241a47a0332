#include "app/sysex_names.h"

#include "support/hex_digits.h"

#include <algorithm>
#include <array>

namespace pelrow {

namespace {

struct TNamedId {
  uint32_t Id;
  const char* Name;
};

// Each sorted by ID, for the binary search.
constexpr std::array OneByteManufacturers{
    TNamedId{0x01, "Sequential"},
    TNamedId{0x04, "Moog"},
    TNamedId{0x06, "Lexicon"},
    TNamedId{0x07, "Kurzweil"},
    TNamedId{0x08, "Fender"},
    TNamedId{0x0F, "Ensoniq"},
    TNamedId{0x10, "Oberheim"},
    TNamedId{0x11, "Apple"},
    TNamedId{0x18, "E-mu"},
    TNamedId{0x1C, "Eventide"},
    TNamedId{0x24, "Hohner"},
    TNamedId{0x33, "Clavia"},
    TNamedId{0x3E, "Waldorf"},
    TNamedId{0x40, "Kawai"},
    TNamedId{0x41, "Roland"},
    TNamedId{0x42, "Korg"},
    TNamedId{0x43, "Yamaha"},
    TNamedId{0x44, "Casio"},
    TNamedId{0x47, "Akai"},
    TNamedId{0x48, "Victor"},
    TNamedId{0x4C, "Sony"},
    TNamedId{0x4E, "Teac"},
    TNamedId{0x51, "Fostex"},
    TNamedId{0x52, "Zoom"},
    TNamedId{0x7D, "Non-Commercial"},
    TNamedId{0x7E, "Universal Non-Real-Time"},
    TNamedId{0x7F, "Universal Real-Time"},
};
constexpr std::array ThreeByteManufacturers{
    TNamedId{0x00000E, "Alesis"},
    TNamedId{0x00001B, "Peavey"},
    TNamedId{0x00003B, "Mark of the Unicorn"},
    TNamedId{0x000105, "M-Audio"},
    TNamedId{0x00201F, "TC Electronic"},
    TNamedId{0x002029, "Novation"},
    TNamedId{0x002032, "Behringer"},
    TNamedId{0x002033, "Access"},
    TNamedId{0x00203C, "Elektron"},
    TNamedId{0x00206B, "Arturia"},
};

const char* FindIn(std::span<const TNamedId> table, uint32_t id) {
  const auto found =
      std::lower_bound(table.begin(), table.end(), id,
                       [](const TNamedId& entry, uint32_t v) { return entry.Id < v; });
  return found != table.end() && found->Id == id ? found->Name : nullptr;
}

struct TUniversalName {
  uint8_t Universal;
  uint8_t SubId1;
  int SubId2; // -1: the name of the whole group
  const char* Name;
};

constexpr TUniversalName UniversalNames[] = {
    {0x7E, 0x01, -1, "Sample Dump Header"},
    {0x7E, 0x02, -1, "Sample Data Packet"},
    {0x7E, 0x03, -1, "Sample Dump Request"},
    {0x7E, 0x04, -1, "MIDI Time Code"},
    {0x7E, 0x05, -1, "Sample Dump Extensions"},
    {0x7E, 0x06, -1, "General Information"},
    {0x7E, 0x06, 0x01, "Identity Request"},
    {0x7E, 0x06, 0x02, "Identity Reply"},
    {0x7E, 0x07, -1, "File Dump"},
    {0x7E, 0x08, -1, "MIDI Tuning Standard"},
    {0x7E, 0x09, -1, "General MIDI"},
    {0x7E, 0x09, 0x01, "General MIDI On"},
    {0x7E, 0x09, 0x02, "General MIDI Off"},
    {0x7E, 0x09, 0x03, "General MIDI 2 On"},
    {0x7E, 0x0A, -1, "Downloadable Sounds"},
    {0x7E, 0x0B, -1, "File Reference"},
    {0x7E, 0x0C, -1, "MIDI Visual Control"},
    {0x7E, 0x0D, -1, "MIDI Capability Inquiry"},
    {0x7E, 0x7B, -1, "End of File"},
    {0x7E, 0x7C, -1, "Wait"},
    {0x7E, 0x7D, -1, "Cancel"},
    {0x7E, 0x7E, -1, "NAK"},
    {0x7E, 0x7F, -1, "ACK"},
    {0x7F, 0x01, -1, "MIDI Time Code"},
    {0x7F, 0x01, 0x01, "Full Message"},
    {0x7F, 0x02, -1, "MIDI Show Control"},
    {0x7F, 0x03, -1, "Notation Information"},
    {0x7F, 0x04, -1, "Device Control"},
    {0x7F, 0x04, 0x01, "Master Volume"},
    {0x7F, 0x04, 0x02, "Master Balance"},
    {0x7F, 0x04, 0x03, "Master Fine Tuning"},
    {0x7F, 0x04, 0x04, "Master Coarse Tuning"},
    {0x7F, 0x05, -1, "MIDI Time Code Cueing"},
    {0x7F, 0x06, -1, "MIDI Machine Control Command"},
    {0x7F, 0x07, -1, "MIDI Machine Control Response"},
    {0x7F, 0x08, -1, "MIDI Tuning Standard"},
    {0x7F, 0x09, -1, "Controller Destination Setting"},
    {0x7F, 0x0A, -1, "Key-Based Instrument Control"},
};

} // namespace

TManufacturerId ManufacturerIdOf(std::span<const uint8_t> afterF0) {
  if (afterF0.empty() || afterF0[0] >= 0x80)
    return {};
  if (afterF0[0] != 0)
    return {afterF0[0], 1};
  if (afterF0.size() < 3 || afterF0[1] >= 0x80 || afterF0[2] >= 0x80)
    return {};
  return {uint32_t{afterF0[1]} << 8 | afterF0[2], 3};
}

std::string ManufacturerName(TManufacturerId id) {
  const char* name = id.Size == 1   ? FindIn(OneByteManufacturers, id.Value)
                     : id.Size == 3 ? FindIn(ThreeByteManufacturers, id.Value)
                                    : nullptr;
  return name != nullptr ? name : "";
}

std::string ManufacturerIdText(TManufacturerId id) {
  if (id.Size == 1)
    return HexByteText(static_cast<uint8_t>(id.Value));
  if (id.Size == 3)
    return "00 " + HexByteText(static_cast<uint8_t>(id.Value >> 8)) + " " +
           HexByteText(static_cast<uint8_t>(id.Value));
  return "";
}

std::string UniversalMessageName(uint8_t universalId, uint8_t subId1, uint8_t subId2) {
  std::string group, name;
  for (const TUniversalName& entry : UniversalNames) {
    if (entry.Universal != universalId || entry.SubId1 != subId1)
      continue;
    if (entry.SubId2 < 0)
      group = entry.Name;
    else if (entry.SubId2 == subId2)
      name = entry.Name;
  }
  return name.empty() ? group : group + ": " + name;
}

} // namespace pelrow
