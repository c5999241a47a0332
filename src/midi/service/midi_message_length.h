// How many bytes a MIDI message takes on the wire, from its status byte.
#pragma once

#include <cstdint>

namespace pelrow {

// 1 to 3 for a status byte (F0 and F7 count 1: what follows them has no set
// length); 0 for a data byte.
inline int ShortMessageLength(uint8_t status) {
  static constexpr int SystemLengths[16] = {1, 2, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  if (status < 0x80)
    return 0;
  if (status >= 0xF0)
    return SystemLengths[status & 0x0F];
  const uint8_t kind = status & 0xF0;
  return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
}

} // namespace pelrow
