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

// The reader's message ("Error: File is no Standard Midi File") with the file's
// name where its "Error: " stands, for messages that name the file.
std::string SMFErrorOfFile(const std::string& fileName, const std::string& message);

class ESMF : public std::runtime_error {
public:
  explicit ESMF(int code);
  int Code() const { return FCode; }

private:
  int FCode;
};

// One event of a track, as read from the file's bytes (it points into them, so it
// is valid while the reader holds the file). Channel messages keep their bytes in
// Data1/Data2 (status 0 for data bytes met before any channel status, read as two
// data bytes); System Exclusive events (0xF0, 0xF7) count their status byte and
// the bytes stored after it; meta events (0xFF) their data without type and length.
struct TMidiEvent {
  int32_t Time = 0; // absolute ticks from the start of the track
  uint8_t Status = 0;
  uint8_t Data1 = 0; // meta type for meta events
  uint8_t Data2 = 0;
  int32_t Size = 0; // the status byte and stored bytes of System Exclusive, or the meta data
  // The bytes as stored in the file: after the status byte of System Exclusive, the
  // data of a meta event; empty for channel messages.
  std::span<const uint8_t> Stored;

  // A copy of the event's bytes: the status byte followed by the stored bytes for
  // System Exclusive, the data of a meta event.
  std::vector<uint8_t> Bytes() const;
  bool IsEndOfTrack() const { return Status == 0xFF && Data1 == 0x2F; }
  bool IsSysEx() const { return Status == 0xF0 || Status == 0xF7; }
};

class TMidiTrack;

// The events of a track, ending with its end-of-track marker. Events are not kept
// as objects: a track of minimal events would take many times the file's size. They
// are read again from the file's bytes when asked for, in order by the iterator, or
// by index from the nearest of the positions noted every so many events.
class TMidiEventList {
public:
  class TIterator;

  explicit TMidiEventList(const TMidiTrack& track) : FTrack(&track) {}
  std::size_t size() const;
  bool empty() const { return false; }
  TMidiEvent operator[](std::size_t index) const;
  TMidiEvent back() const { return (*this)[size() - 1]; }
  TIterator begin() const;
  TIterator end() const;

private:
  const TMidiTrack* FTrack;
};

class TMidiTrack {
public:
  // A track holding only its end-of-track marker at time 0.
  TMidiTrack() = default;
  // Parses the track chunk's data, which must outlive the track; parsing ends at
  // the end-of-track event, at the first event that cannot be read, or when fewer
  // than four bytes are left.
  explicit TMidiTrack(std::span<const uint8_t> bytes);

  // The last event is always the end-of-track marker, at the time of the event
  // before it.
  TMidiEventList Events() const { return TMidiEventList(*this); }
  // Parsing stopped at an event that runs past the end of the track's data.
  bool Broken() const { return FBroken; }

private:
  friend class TMidiEventList;
  enum class TRead { Event, EndOfTrack, Broken };
  // Where reading can start again: before event number EventsPerMark * n.
  struct TMark {
    uint32_t Offset;
    int32_t TimeBefore;
    uint8_t RunningStatus;
  };
  // The state of reading through the track's bytes.
  struct TReader {
    const uint8_t* Pos;
    const uint8_t* End;
    uint8_t RunningStatus = 0;
    int32_t Time = 0; // of the event read last
    TRead Next(TMidiEvent& event);
  };
  static constexpr std::size_t EventsPerMark = 64;

  TReader ReaderAt(std::size_t index) const;
  TMidiEvent Marker() const;

  std::span<const uint8_t> FBytes;
  std::size_t FCount = 0; // events before the marker
  int32_t FEndTime = 0;
  std::vector<TMark> FMarks;
  bool FBroken = false;
};

class TMidiEventList::TIterator {
public:
  using value_type = TMidiEvent;
  using difference_type = std::ptrdiff_t;

  const TMidiEvent& operator*() const { return FEvent; }
  const TMidiEvent* operator->() const { return &FEvent; }
  TIterator& operator++();
  bool operator==(const TIterator& other) const { return FIndex == other.FIndex; }

private:
  friend class TMidiEventList;
  TIterator(const TMidiTrack& track, std::size_t index);

  const TMidiTrack* FTrack;
  std::size_t FIndex;
  TMidiTrack::TReader FReader;
  TMidiEvent FEvent;
};

using TMidiTrackList = std::vector<TMidiTrack>;

// Holds the file's bytes, which its tracks and their events point into.
class TSMF {
public:
  TSMF() = default;
  TSMF(const TSMF&) = delete;
  TSMF& operator=(const TSMF&) = delete;

  // Replaces the content with the file's tracks. Raises ESMF (SMFCannotOpen when
  // the file cannot be read); on any failure the reader is left empty.
  void LoadFromFile(const std::string& fileName);
  // As LoadFromFile for a file already in memory (the reader keeps a copy);
  // FileName stays empty.
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
  void Parse();

  std::vector<uint8_t> FBytes;
  TMidiTrackList FTracks;
  uint16_t FFormat = 0;
  uint16_t FDivision = 1;
  std::string FFileName;
  std::string FDamage;
};

} // namespace pelrow
