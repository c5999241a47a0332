// Helpers for the file loading and saving tests: a recorder of status reports, a
// clock that moves by hand, and small builders for byte files and MIDI files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status_report.h"
#include "editor/vkstrings.h"
#include "support/clock.h"

namespace pelrow::test {

struct TReport {
  std::string Text;
  TStatusSide Side;
  TStatusKind Kind;
  bool Immediate;
};

class TReportLog {
public:
  TShowStatus Reporter() {
    return [this](const std::string& text, TStatusSide side, TStatusKind kind, bool immediate) {
      Reports.push_back({text, side, kind, immediate});
    };
  }
  std::vector<TReport> OfKind(TStatusKind kind) const {
    std::vector<TReport> found;
    for (const TReport& report : Reports)
      if (report.Kind == kind)
        found.push_back(report);
    return found;
  }
  const TReport& Last() const { return Reports.back(); }

  std::vector<TReport> Reports;
};

// Every reading moves the time on by Step milliseconds.
class TSteppingClock : public TClock {
public:
  uint32_t NowMs() override { return FNow += Step; }
  uint32_t Step = 7;

private:
  uint32_t FNow = 1000;
};

inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values)
    bytes.push_back(static_cast<char>(value));
  return bytes;
}

// F0, count - 2 data bytes, F7.
inline std::string SysExOf(std::size_t count, int seed = 0) {
  std::string bytes(count, '\0');
  bytes.front() = static_cast<char>(0xF0);
  for (std::size_t i = 1; i + 1 < count; ++i)
    bytes[i] = static_cast<char>((i + static_cast<std::size_t>(seed)) & 0x7F);
  bytes.back() = static_cast<char>(0xF7);
  return bytes;
}

inline std::vector<std::string> LinesOf(const TVKStrings& lines) {
  std::vector<std::string> all;
  for (int i = 0; i < lines.Count(); ++i)
    all.emplace_back(lines[i]);
  return all;
}

// A Standard MIDI File, format 1, from the bytes of its track chunks.
inline std::string MidiFile(const std::vector<std::string>& tracks) {
  auto bigEndian32 = [](std::size_t value) {
    return Bytes({int(value >> 24 & 0xFF), int(value >> 16 & 0xFF), int(value >> 8 & 0xFF),
                  int(value & 0xFF)});
  };
  std::string file = "MThd" + bigEndian32(6) + Bytes({0, 1, 0, int(tracks.size()), 0, 96});
  for (const std::string& track : tracks)
    file += "MTrk" + bigEndian32(track.size()) + track;
  return file;
}

inline std::string VarLen(std::size_t value) {
  std::string groups(1, static_cast<char>(value & 0x7F));
  while ((value >>= 7) != 0)
    groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  return groups;
}

// A System Exclusive event (status F0 or F7) with the given bytes after the length.
inline std::string SysExEvent(int status, const std::string& bytes, int delta = 0) {
  return VarLen(static_cast<std::size_t>(delta)) + static_cast<char>(status) +
         VarLen(bytes.size()) + bytes;
}

inline const std::string EndOfTrack = Bytes({0x00, 0xFF, 0x2F, 0x00});

} // namespace pelrow::test
