// Standard MIDI File reader. The whole file is read into memory and parsed from
// there, so every read is checked against the bytes that really exist and no
// length field of the file decides how much memory is taken. The bytes are kept:
// events are read from them again when asked for, never held as objects.
#include "files/midi_smf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace pelrow {

namespace {

const char* const TextReady = "Ready.";
const char* const TextCannotOpen = "Error: Midi-File could not be opened";
const char* const TextNotSMF = "Error: File is no Standard Midi File";
const char* const TextType3 = "Error: This is a Midifile type 3, which is not supported";
const char* const TextCorrupt = "Error: This Midifile is corrupt";
const char* const TextSMPTE = "Error: SMPTE in this MidiFile is not supported";
const char* const TextNotLoaded = "Error: Attempt to access without loading the File";
const char* const TextMemoryError = "Error: Memory-Error";
const char* const TextTimeAccess = "Error: Unallowed attempt to access Time";
const char* const TextCannotSave = "Error: Midi file could not be opened for saving";
const char* const TextDiskFull = "Error: Insufficient disk space";
// What is wrong with a file read only in part; %d is a track number from 1.
const char* const TextTrackCut = "track %d ends before its stated length";
const char* const TextTrackBroken = "track %d holds an event that cannot be read";
const char* const TextTracksMissing = "%d of %d tracks are missing";

constexpr uint8_t MetaStatus = 0xFF;
constexpr uint8_t MetaEndOfTrack = 0x2F;
constexpr int VarLenMaxBytes = 4;
// Every track chunk takes at least its type and length from the file.
constexpr std::size_t ChunkHeaderSize = 8;

// Reads forward through a block of bytes; every read checks what is left first.
struct TByteCursor {
  const uint8_t* Pos;
  const uint8_t* End;

  std::size_t Left() const { return static_cast<std::size_t>(End - Pos); }

  bool ReadBigEndian(int bytes, uint32_t& value) {
    if (Left() < static_cast<std::size_t>(bytes))
      return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
      value = (value << 8) | *Pos++;
    return true;
  }

  bool ReadTag(std::array<char, 4>& tag) {
    if (Left() < tag.size())
      return false;
    std::memcpy(tag.data(), Pos, tag.size());
    Pos += tag.size();
    return true;
  }

  // Skipping past the end leaves the cursor at the end.
  void Skip(uint32_t count) { Pos += std::min<std::size_t>(count, Left()); }
};

bool IsTag(const std::array<char, 4>& tag, const char (&expected)[5]) {
  return std::memcmp(tag.data(), expected, tag.size()) == 0;
}

// Moves the cursor to the data of the next track chunk, skipping chunks of any
// other type. Chunk lengths are unsigned: a huge one skips to the end of the file
// rather than backwards, so no file makes this loop forever.
bool SeekTrackChunk(TByteCursor& cursor) {
  std::array<char, 4> tag{};
  while (cursor.ReadTag(tag)) {
    if (IsTag(tag, "MTrk"))
      return true;
    uint32_t length = 0;
    if (!cursor.ReadBigEndian(4, length))
      return false;
    cursor.Skip(length);
  }
  return false;
}

// Absolute times stay at the largest 32-bit time instead of wrapping negative when
// the deltas of a long track add up beyond it.
int32_t AddTimes(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  return static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
}

template <typename... TArgs> std::string FormatDamage(const char* format, TArgs... args) {
  char text[96];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::string NamePart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The bytes of a regular file; anything that cannot be read that way raises the
// "could not be opened" message. Running out of memory throws std::bad_alloc.
std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw ESMF(SMFCannotOpen);
  struct TCloser {
    int Fd;
    ~TCloser() { ::close(Fd); }
  } closer{fd};

  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    throw ESMF(SMFCannotOpen);

  std::vector<uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      throw ESMF(SMFCannotOpen);
    if (got == 0)
      break; // the file shrank while we read it
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

// Runs one load; any failure leaves the reader empty, and running out of memory
// becomes the reader's own message.
template <typename TWork> void LoadOrClear(TSMF& smf, TWork&& work) {
  try {
    work();
  } catch (const std::bad_alloc&) {
    smf.Clear();
    throw ESMF(SMFMemoryError);
  } catch (...) {
    smf.Clear();
    throw;
  }
}

} // namespace

std::string SMFErrorOfFile(const std::string& fileName, const std::string& message) {
  constexpr std::string_view Prefix = "Error: ";
  const std::string_view text(message);
  return fileName + ": " +
         std::string(text.starts_with(Prefix) ? text.substr(Prefix.size()) : text);
}

ESMF::ESMF(int code) : std::runtime_error(TSMF::ErrorText(code)), FCode(code) {}

std::vector<uint8_t> TMidiEvent::Bytes() const {
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(Size));
  if (IsSysEx())
    bytes.push_back(Status);
  bytes.insert(bytes.end(), Stored.begin(), Stored.end());
  return bytes;
}

namespace {

bool ReadVarLen(const uint8_t*& pos, const uint8_t* end, int32_t& value) {
  value = 0;
  for (int i = 0; i < VarLenMaxBytes; ++i) {
    if (pos == end)
      return false;
    const uint8_t byte = *pos++;
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0)
      break;
  }
  return true;
}

} // namespace

// Reads one event and makes its time absolute; parsing of the track ends at the
// end-of-track event or at an event that cannot be read.
TMidiTrack::TRead TMidiTrack::TReader::Next(TMidiEvent& event) {
  event = TMidiEvent{};
  int32_t delta = 0;
  if (!ReadVarLen(Pos, End, delta) || Pos == End)
    return TRead::Broken;

  uint8_t status = *Pos;
  if (status < 0x80) {
    // A data byte continues the last channel status. With none yet it still reads
    // as a channel event (of status 0), so one stray byte does not cost the rest of
    // the track; loading into the Out box passes such events over.
    status = RunningStatus;
  } else {
    ++Pos;
    if (status < 0xF0)
      RunningStatus = status;
  }
  event.Status = status;

  if (status < 0xF0) {
    const uint8_t kind = status & 0xF0;
    const bool oneDataByte = kind == 0xC0 || kind == 0xD0;
    const std::ptrdiff_t dataBytes = oneDataByte ? 1 : 2;
    if (End - Pos < dataBytes)
      return TRead::Broken;
    event.Data1 = Pos[0];
    if (!oneDataByte)
      event.Data2 = Pos[1];
    Pos += dataBytes;
  } else {
    if (status == MetaStatus) {
      if (Pos == End)
        return TRead::Broken;
      event.Data1 = *Pos++;
    }
    int32_t length = 0;
    if (!ReadVarLen(Pos, End, length) || End - Pos < length)
      return TRead::Broken;
    event.Stored = {Pos, static_cast<std::size_t>(length)};
    // System Exclusive events count their status byte with the stored bytes.
    event.Size = status == MetaStatus ? length : length + 1;
    Pos += length;
    // A bare end-of-track event keeps the time of the event before it.
    if (event.Size == 0 && event.IsEndOfTrack())
      return TRead::EndOfTrack;
  }
  event.Time = Time = AddTimes(Time, delta);
  return TRead::Event;
}

TMidiTrack::TMidiTrack(std::span<const uint8_t> bytes) {
  TReader reader{bytes.data(), bytes.data() + bytes.size()};
  TMidiEvent event;
  // Fewer than four bytes after the last event are padding, not an event.
  while (reader.End - reader.Pos >= 4) {
    const uint8_t* start = reader.Pos;
    const TReader before = reader;
    const TRead read = reader.Next(event);
    FBroken = read == TRead::Broken;
    // An end-of-track event that carried data still ends the track.
    if (read != TRead::Event || event.IsEndOfTrack()) {
      FEndTime = read == TRead::Event ? event.Time : before.Time;
      break;
    }
    if (FCount % EventsPerMark == 0)
      FMarks.push_back(
          {static_cast<uint32_t>(start - bytes.data()), before.Time, before.RunningStatus});
    ++FCount;
    FEndTime = event.Time;
  }
  FBytes = bytes;
}

TMidiTrack::TReader TMidiTrack::ReaderAt(std::size_t index) const {
  const TMark& mark = FMarks[index / EventsPerMark];
  TReader reader{FBytes.data() + mark.Offset, FBytes.data() + FBytes.size(), mark.RunningStatus,
                 mark.TimeBefore};
  TMidiEvent skipped;
  for (std::size_t i = index % EventsPerMark; i > 0; --i)
    reader.Next(skipped);
  return reader;
}

TMidiEvent TMidiTrack::Marker() const {
  TMidiEvent marker;
  marker.Status = MetaStatus;
  marker.Data1 = MetaEndOfTrack;
  marker.Time = FEndTime;
  return marker;
}

std::size_t TMidiEventList::size() const {
  return FTrack->FCount + 1;
}

TMidiEvent TMidiEventList::operator[](std::size_t index) const {
  if (index >= FTrack->FCount)
    return FTrack->Marker();
  TMidiTrack::TReader reader = FTrack->ReaderAt(index);
  TMidiEvent event;
  reader.Next(event);
  return event;
}

TMidiEventList::TIterator TMidiEventList::begin() const {
  return TIterator(*FTrack, 0);
}

TMidiEventList::TIterator TMidiEventList::end() const {
  return TIterator(*FTrack, size());
}

TMidiEventList::TIterator::TIterator(const TMidiTrack& track, std::size_t index)
    : FTrack(&track),
      FIndex(index), FReader{track.FBytes.data(), track.FBytes.data() + track.FBytes.size()} {
  if (FIndex == 0 && FTrack->FCount > 0)
    FReader.Next(FEvent);
  else if (FIndex == FTrack->FCount)
    FEvent = FTrack->Marker();
}

TMidiEventList::TIterator& TMidiEventList::TIterator::operator++() {
  ++FIndex;
  if (FIndex < FTrack->FCount)
    FReader.Next(FEvent);
  else if (FIndex == FTrack->FCount)
    FEvent = FTrack->Marker();
  return *this;
}

void TSMF::LoadFromFile(const std::string& fileName) {
  Clear();
  FFileName = NamePart(fileName);
  LoadOrClear(*this, [&] {
    FBytes = ReadWholeFile(fileName);
    Parse();
  });
}

void TSMF::LoadFromMemory(std::span<const uint8_t> bytes) {
  Clear();
  LoadOrClear(*this, [&] {
    FBytes.assign(bytes.begin(), bytes.end());
    Parse();
  });
}

void TSMF::Parse() {
  TByteCursor cursor{FBytes.data(), FBytes.data() + FBytes.size()};

  std::array<char, 4> tag{};
  uint32_t headerLength = 0;
  if (!cursor.ReadTag(tag) || !IsTag(tag, "MThd") || !cursor.ReadBigEndian(4, headerLength) ||
      headerLength != 6)
    throw ESMF(SMFNotSMF);
  uint32_t format = 0, trackCount = 0, division = 0;
  if (!cursor.ReadBigEndian(2, format) || !cursor.ReadBigEndian(2, trackCount) ||
      !cursor.ReadBigEndian(2, division))
    throw ESMF(SMFNotSMF);
  if (format > 2)
    throw ESMF(SMFType3);
  if (division >= 0x8000)
    throw ESMF(SMFSMPTE);

  // The header's count is only a wish: never reserve more tracks than fit.
  TMidiTrackList tracks;
  tracks.reserve(std::min<std::size_t>(trackCount, cursor.Left() / ChunkHeaderSize));
  // A count of 0 reads every track chunk up to the end of the file. A stated
  // length beyond the end of the file (however large) takes what is there.
  std::string damage;
  uint32_t read = 0;
  do {
    uint32_t length = 0;
    if (!SeekTrackChunk(cursor) || !cursor.ReadBigEndian(4, length))
      break;
    const std::size_t present = std::min<std::size_t>(length, cursor.Left());
    tracks.emplace_back(std::span<const uint8_t>(cursor.Pos, present));
    cursor.Skip(static_cast<uint32_t>(present));
    ++read;
    if (damage.empty() && present < length)
      damage = FormatDamage(TextTrackCut, static_cast<int>(read));
    else if (damage.empty() && tracks.back().Broken())
      damage = FormatDamage(TextTrackBroken, static_cast<int>(read));
  } while (read != trackCount);
  if (damage.empty() && trackCount != 0 && read < trackCount)
    damage = FormatDamage(TextTracksMissing, static_cast<int>(trackCount - read),
                          static_cast<int>(trackCount));

  FTracks = std::move(tracks);
  FDamage = std::move(damage);
  FFormat = static_cast<uint16_t>(format);
  FDivision = static_cast<uint16_t>(division);
}

void TSMF::Clear() {
  FTracks.clear();
  FBytes.clear();
  FBytes.shrink_to_fit();
  FDamage.clear();
  FFormat = 0;
  FDivision = 1;
  FFileName.clear();
}

const TMidiTrack* TSMF::GetTrack(int index) const {
  if (index < 0 || index >= TrackCount())
    return nullptr;
  return &FTracks[static_cast<std::size_t>(index)];
}

std::string TSMF::ErrorText(int code) {
  switch (code) {
  case SMFReady:
    return TextReady;
  case SMFCannotOpen:
    return TextCannotOpen;
  case SMFNotSMF:
    return TextNotSMF;
  case SMFType3:
    return TextType3;
  case SMFCorrupt:
    return TextCorrupt;
  case SMFSMPTE:
    return TextSMPTE;
  case SMFNotLoaded:
    return TextNotLoaded;
  case SMFMemoryError:
    return TextMemoryError;
  case SMFTimeAccess:
    return TextTimeAccess;
  case SMFCannotSave:
    return TextCannotSave;
  case SMFDiskFull:
    return TextDiskFull;
  default:
    return {};
  }
}

} // namespace pelrow
