// Standard MIDI File writer.
#include "files/smf_writer.h"

#include <algorithm>
#include <stdexcept>

namespace pelrow {

namespace {

constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEnd = 0xF7;
constexpr uint8_t SysExPacket = 0xF7;
constexpr uint8_t RealTimeFirst = 0xF8;
// The reader takes variable-length numbers of at most four bytes; longer runs
// go on in further packets.
constexpr std::size_t MaxPacket = 0x0FFFFFFF;
constexpr const char* TextFileTooLarge = "The data is too large for a MIDI file";

bool IsStatus(uint8_t byte) {
  return byte >= 0x80;
}

void AppendBigEndian(std::string& out, uint32_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendVarLen(std::string& out, uint32_t value) {
  char groups[4];
  int count = 0;
  do {
    groups[count++] = static_cast<char>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && count < 4);
  while (count > 1)
    out += static_cast<char>(groups[--count] | 0x80);
  out += groups[0];
}

// Bytes of a channel message with this status, the status included.
std::size_t ChannelMessageLength(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

// Where the data bytes from `from` on end: at the next status byte or the end.
std::size_t DataEnd(std::span<const uint8_t> bytes, std::size_t from) {
  while (from < bytes.size() && !IsStatus(bytes[from]))
    ++from;
  return from;
}

} // namespace

void TSmfWriter::AddEvent(uint8_t status, std::span<const uint8_t> data, bool withLength) {
  FTrack += '\0'; // every event at time 0, in order
  FTrack += static_cast<char>(status);
  if (withLength)
    AppendVarLen(FTrack, static_cast<uint32_t>(data.size()));
  FTrack.append(reinterpret_cast<const char*>(data.data()), data.size());
}

// The first packet carries the status; a run too long for one goes on in F7 packets.
void TSmfWriter::AddPackets(uint8_t status, std::span<const uint8_t> data) {
  do {
    const std::size_t size = std::min(data.size(), MaxPacket);
    AddEvent(status, data.first(size), true);
    data = data.subspan(size);
    status = SysExPacket;
  } while (!data.empty());
}

void TSmfWriter::AddLine(std::span<const uint8_t> bytes) {
  FMidiBytes += bytes.size();
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const uint8_t first = bytes[pos];
    // A System Exclusive message, or its continuation from the line before, up to
    // its F7 or the next status byte.
    if (first == SysExStart || (FInSysEx && !IsStatus(first))) {
      const std::size_t from = first == SysExStart ? pos + 1 : pos;
      std::size_t end = DataEnd(bytes, from);
      const bool closed = end < bytes.size() && bytes[end] == SysExEnd;
      // Still open at the end of the line, or around a real-time message.
      FInSysEx = !closed && (end == bytes.size() || bytes[end] >= RealTimeFirst);
      if (closed)
        ++end;
      AddPackets(first == SysExStart ? SysExStart : SysExPacket, bytes.subspan(from, end - from));
      pos = end;
      continue;
    }
    if (IsStatus(first) && first < RealTimeFirst)
      FInSysEx = false;
    // A whole channel message is an ordinary event.
    if (IsStatus(first) && first < SysExStart) {
      const std::size_t length = ChannelMessageLength(first);
      if (DataEnd(bytes, pos + 1) - pos >= length) {
        AddEvent(first, bytes.subspan(pos + 1, length - 1), false);
        pos += length;
        continue;
      }
    }
    // Anything else is kept as it stands: the byte and the data bytes after it.
    const std::size_t end = DataEnd(bytes, pos + 1);
    AddPackets(SysExPacket, bytes.subspan(pos, end - pos));
    pos = end;
  }
}

std::string TSmfWriter::FileBytes() const {
  static constexpr uint8_t EndOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};
  const std::size_t trackLength = FTrack.size() + sizeof EndOfTrack;
  if (trackLength > UINT32_MAX)
    throw std::length_error(TextFileTooLarge);
  std::string file = "MThd";
  AppendBigEndian(file, 6, 4);
  AppendBigEndian(file, 0, 2); // format 0
  AppendBigEndian(file, 1, 2); // one track
  AppendBigEndian(file, Division, 2);
  file += "MTrk";
  AppendBigEndian(file, static_cast<uint32_t>(trackLength), 4);
  file.reserve(file.size() + trackLength);
  file += FTrack;
  file.append(reinterpret_cast<const char*>(EndOfTrack), sizeof EndOfTrack);
  return file;
}

} // namespace pelrow
