// Standard MIDI File reader: loads a ".mid" file (formats 0, 1 and 2, metrical
// division) into tracks of events with absolute times. The program only takes the
// System Exclusive events from it, but every event of every track is parsed.
// Any input is safe: damaged tracks end at the first unreadable event and what
// was read before stays, with a note of the damage; a file that cannot be read
// raises ESMF and leaves the reader empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelrow {

// Codes of the reader's messages (see TSMF::ErrorText).
constexpr int SMFReady = 0;
constexpr int SMFCannotOpen = -1;
constexpr int SMFNotSMF = -2;
constexpr int SMFType3 = -3;
constexpr int SMFCorrupt = -4;
constexpr int SMFSMPTE = -5;
constexpr int SMFNotLoaded = -6;
constexpr int SMFMemoryError = -7;
constexpr int SMFTimeAccess = -8;
constexpr int SMFCannotSave = -9;
constexpr int SMFDiskFull = -10;

class ESMF : public std::runtime_error {
public:
  explicit ESMF(int code);
  int Code() const { return FCode; }

private:
  int FCode;
};

// One event of a track. Channel messages keep their bytes in Data1/Data2 (status 0
// for data bytes met before any channel status, read as two data bytes); System
// Exclusive events (0xF0, 0xF7) own their status byte followed by the bytes as
// stored in the file; meta events (0xFF) own their data without type and length.
struct TMidiEvent {
  int32_t Time = 0; // delta ticks as read, absolute once added to a track
  uint8_t Status = 0;
  uint8_t Data1 = 0; // meta type for meta events
  uint8_t Data2 = 0;
  int32_t Size = 0; // bytes in Data
  std::unique_ptr<uint8_t[]> Data;

  // Copies count bytes into a block of the event's own; no source or no bytes
  // leaves the event without data.
  void SetData(const uint8_t* source, int32_t count);
  std::span<const uint8_t> Bytes() const { return {Data.get(), static_cast<std::size_t>(Size)}; }
  bool IsEndOfTrack() const { return Status == 0xFF && Data1 == 0x2F; }
};

using TMidiEventList = std::vector<TMidiEvent>;

class TMidiTrack {
public:
  // A track holding only its end-of-track marker at time 0.
  TMidiTrack();
  // Parses the track chunk's data; parsing ends at the end-of-track event, at the
  // first event that cannot be read, or when fewer than four bytes are left.
  explicit TMidiTrack(std::span<const uint8_t> bytes);

  // The last event is always the end-of-track marker, at the time of the event
  // before it.
  const TMidiEventList& Events() const { return FEvents; }
  // Parsing stopped at an event that runs past the end of the track's data.
  bool Broken() const { return FBroken; }

private:
  struct TCursor;
  enum class TRead { Event, EndOfTrack, Broken };

  bool ReadVarLen(TCursor& cursor, int32_t& value) const;
  TRead ReadEvent(TCursor& cursor, TMidiEvent& event);
  bool AddEvent(TMidiEvent&& event);

  TMidiEventList FEvents;
  uint8_t FRunningStatus = 0;
  bool FBroken = false;
};

using TMidiTrackList = std::vector<TMidiTrack>;

class TSMF {
public:
  TSMF() = default;

  // Replaces the content with the file's tracks. Raises ESMF (SMFCannotOpen when
  // the file cannot be read); on any failure the reader is left empty.
  void LoadFromFile(const std::string& fileName);
  // As LoadFromFile for a file already in memory; FileName stays empty.
  void LoadFromMemory(std::span<const uint8_t> bytes);
  void Clear();

  int TrackCount() const { return static_cast<int>(FTracks.size()); }
  // The track at index, or nullptr when index is out of range.
  const TMidiTrack* GetTrack(int index) const;

  const std::string& FileName() const { return FFileName; }
  // What is wrong with a file that was read only in part (a track cut short, an
  // event that cannot be read, tracks missing); empty for a sound file.
  const std::string& Damage() const { return FDamage; }
  uint16_t Format() const { return FFormat; }
  uint16_t Division() const { return FDivision; }

  static std::string ErrorText(int code);

private:
  void Parse(std::span<const uint8_t> bytes);

  TMidiTrackList FTracks;
  uint16_t FFormat = 0;
  uint16_t FDivision = 1;
  std::string FFileName;
  std::string FDamage;
};

} // namespace pelrow
