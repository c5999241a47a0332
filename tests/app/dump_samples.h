// Dumps shaped as devices send them, for the tests of checking and splitting: each
// message as hex lines the way the In box shows it, checksums computed as the
// device computes them.
#pragma once

#include "app/line_formatter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelrow::test {

using TBytes = std::vector<uint8_t>;
using TLines = std::vector<std::string>;

inline uint8_t Checksum(const TBytes& bytes, size_t from, size_t to) {
  unsigned sum = 0;
  for (size_t i = from; i < to; ++i)
    sum += bytes[i];
  return static_cast<uint8_t>((128 - sum % 128) % 128);
}

// The reset of a GS sound module: a Roland data set with a one-byte model ID.
inline const std::string GsReset = "F0 41 10 42 12 40 00 7F 00 41 F7";
inline const std::string GsResetBadSum = "F0 41 10 42 12 40 00 7F 00 42 F7";
inline const std::string IdentityRequest = "F0 7E 7F 06 01 F7";
inline const std::string RolandIdentityReply = "F0 7E 10 06 02 41 2B 02 00 00 00 01 00 00 F7";

// A Roland data set for a model with a four-byte ID (00 00 00 0E).
inline TBytes RolandDataSet(const TBytes& addressAndData) {
  TBytes bytes{0xF0, 0x41, 0x10, 0x00, 0x00, 0x00, 0x0E, 0x12};
  bytes.insert(bytes.end(), addressAndData.begin(), addressAndData.end());
  bytes.push_back(Checksum(bytes, 8, bytes.size()));
  bytes.push_back(0xF7);
  return bytes;
}

// A Yamaha single-voice bulk dump (format 00, 155 data bytes) for device 1.
inline TBytes YamahaVoiceDump() {
  TBytes bytes{0xF0, 0x43, 0x00, 0x00, 0x01, 0x1B};
  for (int i = 0; i < 155; ++i)
    bytes.push_back(static_cast<uint8_t>((i * 37) % 100));
  bytes.push_back(Checksum(bytes, 6, bytes.size()));
  bytes.push_back(0xF7);
  return bytes;
}

// A Yamaha bulk dump with an address after the count: the checksum covers count,
// address and data.
inline TBytes YamahaAddressedDump() {
  TBytes bytes{0xF0, 0x43, 0x00, 0x4C, 0x00, 0x04, 0x02, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44};
  bytes.push_back(Checksum(bytes, 4, bytes.size()));
  bytes.push_back(0xF7);
  return bytes;
}

// Bytes as the In box shows them: lines cut before status bytes and, with a
// threshold above 0, after that many bytes.
inline TLines HexLines(const TBytes& bytes, int threshold = -1) {
  TLines lines;
  AddLongMessageLines(bytes.data(), static_cast<int>(bytes.size()), threshold,
                      [&](std::string_view line) { lines.emplace_back(line); }, {});
  return lines;
}

inline TLines Joined(std::initializer_list<TLines> parts) {
  TLines lines;
  for (const TLines& part : parts)
    lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

} // namespace pelrow::test
