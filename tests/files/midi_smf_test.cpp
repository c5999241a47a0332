// Standard MIDI File reader on crafted files: header checks, chunk walking, event
// parsing with running status, and safety on truncated and corrupt input.
#include "files/midi_smf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

namespace pelrow {
namespace {

using TBytes = std::vector<uint8_t>;

void Append(TBytes& to, const TBytes& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

TBytes BigEndian32(uint32_t value) {
  return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

TBytes Chunk(const char* tag, const TBytes& body) {
  TBytes chunk(tag, tag + 4);
  Append(chunk, BigEndian32(static_cast<uint32_t>(body.size())));
  Append(chunk, body);
  return chunk;
}

TBytes Header(uint16_t format, uint16_t tracks, uint16_t division = 96) {
  return Chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8),
                        uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)});
}

TBytes File(std::initializer_list<TBytes> chunks) {
  TBytes file;
  for (const TBytes& chunk : chunks)
    Append(file, chunk);
  return file;
}

// A file of one track with the given track bytes.
TBytes OneTrack(const TBytes& trackBytes) {
  return File({Header(0, 1), Chunk("MTrk", trackBytes)});
}

const TBytes EndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

TBytes WithEnd(TBytes events) {
  Append(events, EndOfTrack);
  return events;
}

std::string LoadError(const TBytes& file) {
  TSMF smf;
  try {
    smf.LoadFromMemory(file);
  } catch (const ESMF& e) {
    EXPECT_EQ(smf.TrackCount(), 0);
    EXPECT_EQ(smf.Format(), 0);
    EXPECT_EQ(smf.Division(), 1);
    return e.what();
  }
  return "loaded";
}

const TMidiTrack& OnlyTrack(TSMF& smf, const TBytes& trackBytes) {
  smf.LoadFromMemory(OneTrack(trackBytes));
  EXPECT_EQ(smf.TrackCount(), 1);
  return *smf.GetTrack(0);
}

// What every loaded track must satisfy: it ends with a bare end-of-track marker at
// the time of the last event, and times never go back.
void ExpectTrackInvariant(const TMidiTrack& track) {
  const TMidiEventList& events = track.Events();
  ASSERT_FALSE(events.empty());
  const TMidiEvent& marker = events.back();
  EXPECT_TRUE(marker.IsEndOfTrack());
  EXPECT_EQ(marker.Size, 0);
  EXPECT_EQ(marker.Time, events.size() > 1 ? events[events.size() - 2].Time : 0);
  for (std::size_t i = 1; i < events.size(); ++i)
    EXPECT_LE(events[i - 1].Time, events[i].Time);
  for (const TMidiEvent& event : events)
    EXPECT_EQ(event.Size == 0, event.Bytes().empty());
}

TBytes DataOf(const TMidiEvent& event) {
  const auto bytes = event.Bytes();
  return TBytes(bytes.begin(), bytes.end());
}

TEST(SMFHeader, RejectsWhatIsNotAStandardMidiFile) {
  const std::string notSMF = "Error: File is no Standard Midi File";
  TBytes riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0x20, 'R', 'M', 'I', 'D'};
  Append(riff, OneTrack(EndOfTrack));
  EXPECT_EQ(LoadError(riff), notSMF);

  TBytes longHeader = Chunk("MThd", {0, 1, 0, 1, 0, 96, 0, 0});
  Append(longHeader, Chunk("MTrk", EndOfTrack));
  EXPECT_EQ(LoadError(longHeader), notSMF);

  EXPECT_EQ(LoadError({}), notSMF);
  const TBytes valid = OneTrack(EndOfTrack);
  for (std::size_t cut = 1; cut < Header(0, 1).size(); ++cut)
    EXPECT_EQ(LoadError(TBytes(valid.begin(), valid.begin() + cut)), notSMF) << cut;
}

TEST(SMFHeader, RejectsFormat3AndTimeCodeDivision) {
  EXPECT_EQ(LoadError(File({Header(3, 1), Chunk("MTrk", EndOfTrack)})),
            "Error: This is a Midifile type 3, which is not supported");
  EXPECT_EQ(LoadError(File({Header(1, 1, 0xE728), Chunk("MTrk", EndOfTrack)})),
            "Error: SMPTE in this MidiFile is not supported");
  EXPECT_EQ(LoadError(File({Header(2, 1, 0x7FFF), Chunk("MTrk", EndOfTrack)})), "loaded");
}

TEST(SMFHeader, KeepsFormatDivisionAndTracksUntilAFailedLoad) {
  TSMF smf;
  smf.LoadFromMemory(File({Header(1, 2, 480), Chunk("MTrk", EndOfTrack),
                           Chunk("MTrk", WithEnd({0x00, 0x90, 0x3C, 0x40}))}));
  EXPECT_EQ(smf.Format(), 1);
  EXPECT_EQ(smf.Division(), 480);
  ASSERT_EQ(smf.TrackCount(), 2);
  EXPECT_EQ(smf.GetTrack(1)->Events().size(), 2u);
  EXPECT_EQ(smf.GetTrack(-1), nullptr);
  EXPECT_EQ(smf.GetTrack(2), nullptr);

  EXPECT_THROW(smf.LoadFromMemory(File({Header(4, 1), Chunk("MTrk", EndOfTrack)})), ESMF);
  EXPECT_EQ(smf.TrackCount(), 0);
  EXPECT_EQ(smf.Format(), 0);
  EXPECT_EQ(smf.Division(), 1);
}

TEST(SMFChunks, SkipsUnknownChunksWhereverTheyStand) {
  TSMF smf;
  smf.LoadFromMemory(File({Header(1, 2), Chunk("XFIH", {1, 2, 3, 4, 5}),
                           Chunk("MTrk", WithEnd({0x00, 0xC0, 0x05})), Chunk("junk", {}),
                           Chunk("MTrk", WithEnd({0x00, 0xD0, 0x20}))}));
  ASSERT_EQ(smf.TrackCount(), 2);
  EXPECT_EQ(smf.GetTrack(0)->Events()[0].Status, 0xC0);
  EXPECT_EQ(smf.GetTrack(1)->Events()[0].Status, 0xD0);
}

TEST(SMFChunks, HugeUnknownChunkLengthEndsTheFile) {
  // Read as signed, these lengths would step backwards onto the same chunk again.
  for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u}) {
    TBytes file = File({Header(1, 3), Chunk("MTrk", EndOfTrack)});
    Append(file, {'a', 'b', 'c', 'd'});
    Append(file, BigEndian32(length));
    Append(file, Chunk("MTrk", EndOfTrack));
    TSMF smf;
    smf.LoadFromMemory(file);
    EXPECT_EQ(smf.TrackCount(), 1) << std::hex << length;
  }
}

TEST(SMFChunks, TrackCountOfHeaderOnlyLimitsReading) {
  const TBytes track = Chunk("MTrk", EndOfTrack);
  TSMF smf;
  smf.LoadFromMemory(File({Header(1, 0), track, track, track}));
  EXPECT_EQ(smf.TrackCount(), 3) << "a count of 0 reads up to the end";
  smf.LoadFromMemory(File({Header(1, 2), track, track, track}));
  EXPECT_EQ(smf.TrackCount(), 2);
  EXPECT_EQ(smf.Damage(), "");
  smf.LoadFromMemory(File({Header(1, 65535), track, track}));
  EXPECT_EQ(smf.TrackCount(), 2);
  EXPECT_EQ(smf.Damage(), "65533 of 65535 tracks are missing");
  smf.LoadFromMemory(Header(1, 65535));
  EXPECT_EQ(smf.TrackCount(), 0);
}

TEST(SMFChunks, TrackLengthsThatDoNotFitTheFile) {
  TSMF smf;
  // A track length far past the end reads the bytes that are there.
  TBytes file = Header(0, 1);
  Append(file, {'M', 'T', 'r', 'k'});
  Append(file, BigEndian32(0x7FFFFFF0));
  Append(file, WithEnd({0x00, 0x90, 0x3C, 0x40}));
  smf.LoadFromMemory(file);
  ASSERT_EQ(smf.TrackCount(), 1);
  EXPECT_EQ(smf.GetTrack(0)->Events().size(), 2u);

  EXPECT_EQ(smf.Damage(), "track 1 ends before its stated length");

  // A length of 2^31 and more is a length like any other: the 100 events that are
  // there are read, and the file is damaged. A length of 0 is an empty track.
  TBytes events;
  for (int i = 0; i < 100; ++i)
    Append(events, {0x00, 0xF0, 0x02, uint8_t(i), 0xF7});
  for (uint32_t length : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    file = Header(0, 1);
    Append(file, {'M', 'T', 'r', 'k'});
    Append(file, BigEndian32(length));
    Append(file, WithEnd(events));
    smf.LoadFromMemory(file);
    ASSERT_EQ(smf.TrackCount(), 1);
    EXPECT_EQ(smf.GetTrack(0)->Events().size(), length == 0 ? 1u : 101u);
    EXPECT_EQ(smf.Damage(), length == 0 ? "" : "track 1 ends before its stated length");
    ExpectTrackInvariant(*smf.GetTrack(0));
  }
}

TEST(SMFEvents, RunningStatusGivesAbsoluteTimes) {
  TSMF smf;
  const TMidiTrack& track =
      OnlyTrack(smf, {0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].Status, 0x90);
  EXPECT_EQ(events[1].Data1, 0x3E);
  EXPECT_EQ(events[1].Data2, 0x40);
  EXPECT_EQ(events[1].Time, 0x10);
  EXPECT_TRUE(events[2].IsEndOfTrack());
  EXPECT_EQ(events[2].Time, 0x10);
}

TEST(SMFEvents, SystemExclusiveKeepsItsStatusByte) {
  TSMF smf;
  const TMidiTrack& track =
      OnlyTrack(smf, WithEnd({0x00, 0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7, 0x00, 0xF7, 0x02,
                              0xF8, 0xFA, 0x00, 0xF0, 0x00}));
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].Size, 6);
  EXPECT_EQ(DataOf(events[0]), (TBytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
  EXPECT_EQ(events[1].Size, 3);
  EXPECT_EQ(DataOf(events[1]), (TBytes{0xF7, 0xF8, 0xFA}));
  EXPECT_EQ(DataOf(events[2]), (TBytes{0xF0}));
}

TEST(SMFEvents, MetaEventsDoNotTouchRunningStatus) {
  TSMF smf;
  const TMidiTrack& track = OnlyTrack(
      smf, WithEnd({0x00, 0xB0, 0x07, 0x64, 0x05, 0xFF, 0x01, 0x03, 'a',  'b',  'c',  0x05, 0xFF,
                    0x06, 0x00, 0x00, 0x0A, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x0B, 0x00}));
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[1].Data1, 0x01);
  EXPECT_EQ(DataOf(events[1]), (TBytes{'a', 'b', 'c'}));
  EXPECT_EQ(events[2].Size, 0) << "a meta event without data is kept";
  EXPECT_EQ(events[3].Status, 0xB0);
  EXPECT_EQ(events[3].Data1, 0x0A);
  EXPECT_EQ(events[4].Status, 0xF0);
  EXPECT_EQ(events[5].Status, 0xB0) << "System Exclusive leaves it too";
  EXPECT_EQ(events[5].Time, 10);
}

TEST(SMFEvents, OneDataByteForProgramChangeAndChannelPressure) {
  TSMF smf;
  const TMidiTrack& track =
      OnlyTrack(smf, WithEnd({0x00, 0xC3, 0x05, 0x00, 0x07, 0x00, 0xD1, 0x33, 0x01, 0x34}));
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[1].Status, 0xC3);
  EXPECT_EQ(events[1].Data1, 0x07);
  EXPECT_EQ(events[1].Data2, 0x00);
  EXPECT_EQ(events[3].Status, 0xD1);
  EXPECT_EQ(events[3].Data1, 0x34);
  EXPECT_EQ(events[3].Time, 1);
}

TEST(SMFEvents, VariableLengthQuantityStopsAfterFourBytes) {
  TSMF smf;
  const TMidiTrack& track = OnlyTrack(smf, WithEnd({0x81, 0x80, 0x80, 0x80, 0x90, 0x3C, 0x40, 0xFF,
                                                    0xFF, 0xFF, 0x7F, 0x80, 0x3C, 0x00}));
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Time, 0x200000);
  EXPECT_EQ(events[0].Status, 0x90);
  EXPECT_EQ(events[1].Status, 0x80);
  EXPECT_EQ(events[1].Time, 0x200000 + 0x0FFFFFFF);
}

TEST(SMFEvents, TimesStayAtTheLargestValueInsteadOfWrapping) {
  TBytes events;
  for (int i = 0; i < 10; ++i)
    Append(events, {0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x3C, 0x40});
  TSMF smf;
  const TMidiTrack& track = OnlyTrack(smf, WithEnd(events));
  ASSERT_EQ(track.Events().size(), 11u);
  EXPECT_EQ(track.Events()[7].Time, 0x7FFFFFF8);
  EXPECT_EQ(track.Events()[8].Time, 0x7FFFFFFF);
  ExpectTrackInvariant(track);
}

TEST(SMFEvents, EndOfTrackEndsParsing) {
  TSMF smf;
  // Bytes after the end-of-track event are not events of the track.
  const TMidiTrack& plain =
      OnlyTrack(smf, {0x00, 0x90, 0x3C, 0x40, 0x05, 0xFF, 0x2F, 0x00, 0x00, 0x90, 0x3E, 0x40});
  ASSERT_EQ(plain.Events().size(), 2u);
  EXPECT_EQ(plain.Events()[1].Time, 0) << "a bare end-of-track keeps the last event's time";

  const TMidiTrack& withData = OnlyTrack(
      smf, {0x00, 0x90, 0x3C, 0x40, 0x05, 0xFF, 0x2F, 0x01, 0x00, 0x00, 0x90, 0x3E, 0x40});
  ASSERT_EQ(withData.Events().size(), 2u);
  EXPECT_EQ(withData.Events()[1].Time, 5);
  EXPECT_EQ(withData.Events()[1].Size, 0);
}

TEST(SMFEvents, FewerThanFourTrailingBytesAreIgnored) {
  TSMF smf;
  EXPECT_EQ(OnlyTrack(smf, {0x00, 0x90, 0x3C, 0x40, 0x00, 0xC0, 0x05}).Events().size(), 2u);
  EXPECT_EQ(OnlyTrack(smf, {0x00, 0xC0, 0x05}).Events().size(), 1u);
}

TEST(SMFDamage, TrackEndsAtFirstUnreadableEventAndLaterTracksAreRead) {
  // Each damaged track starts with one good event, which is kept.
  const TBytes damagedTracks[] = {
      {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x7F, 0x01, 0x02, 0xF7}, // SysEx past the end
      {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x10, 'a', 'b'},   // meta past the end
      {0x00, 0x90, 0x3C, 0x40, 0x81, 0x82, 0x83, 0x84},             // nothing after the time
      {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x81, 0x82, 0x83},       // length never ends
      {0x00, 0x90, 0x3C, 0x40, 0x81, 0x80, 0x80, 0x00, 0x80, 0x3C}, // note lacks a byte
  };
  for (const TBytes& damaged : damagedTracks) {
    TSMF smf;
    smf.LoadFromMemory(File(
        {Header(1, 2), Chunk("MTrk", damaged), Chunk("MTrk", WithEnd({0x00, 0xF0, 0x01, 0xF7}))}));
    ASSERT_EQ(smf.TrackCount(), 2);
    const TMidiTrack& first = *smf.GetTrack(0);
    EXPECT_EQ(first.Events().size(), 2u) << int(damaged[5]);
    EXPECT_EQ(first.Events()[0].Status, damaged[1]);
    ExpectTrackInvariant(first);
    EXPECT_EQ(smf.GetTrack(1)->Events().size(), 2u);
    EXPECT_EQ(smf.Damage(), "track 1 holds an event that cannot be read");
  }
}

TEST(SMFDamage, DataBytesBeforeAnyStatusAreAnEventOfStatusZero) {
  // Data bytes with no running status yet read as a channel event of status 0 with
  // two data bytes, and the track reads on: the System Exclusive after them is kept.
  TSMF smf;
  const TMidiTrack& track =
      OnlyTrack(smf, WithEnd({0x00, 0xFF, 0x01, 0x00, 0x05, 0x3C, 0x40, 0x00, 0xF0, 0x02, 0x7E,
                              0xF7, 0x01, 0x11, 0x22, 0x00, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x40}));
  const TMidiEventList& events = track.Events();
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[1].Status, 0x00);
  EXPECT_EQ(events[1].Data1, 0x3C);
  EXPECT_EQ(events[1].Data2, 0x40);
  EXPECT_EQ(events[1].Size, 0);
  EXPECT_EQ(events[1].Time, 5);
  EXPECT_EQ(DataOf(events[2]), (TBytes{0xF0, 0x7E, 0xF7}));
  EXPECT_EQ(events[3].Status, 0x00) << "System Exclusive does not set a running status";
  EXPECT_EQ(events[3].Data1, 0x11);
  EXPECT_EQ(events[5].Status, 0x90) << "a later channel status takes over as usual";
  EXPECT_EQ(events[5].Data1, 0x3E);
  ExpectTrackInvariant(track);
}

// A valid two-track file with every kind of event, cut at every length: each
// prefix either fails cleanly or loads tracks that keep their invariant.
TEST(SMFDamage, EveryTruncationIsSafe) {
  const TBytes full =
      File({Header(1, 2, 192), Chunk("MThx", {9, 9}),
            Chunk("MTrk", WithEnd({0x00, 0xFF, 0x03, 0x04, 'n', 'a', 'm', 'e', 0x00, 0x90, 0x3C,
                                   0x40, 0x60, 0x3C, 0x00, 0x81, 0x00, 0xC1, 0x07})),
            Chunk("MTrk", WithEnd({0x00, 0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7, 0x83, 0x60, 0xF7,
                                   0x02, 0xF8, 0xFA, 0x00, 0xE0, 0x00, 0x40}))});
  TSMF smf;
  smf.LoadFromMemory(full);
  ASSERT_EQ(smf.TrackCount(), 2);
  ASSERT_EQ(smf.GetTrack(0)->Events().size(), 5u);
  ASSERT_EQ(smf.GetTrack(1)->Events().size(), 4u);
  EXPECT_EQ(smf.Damage(), "");

  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    // A copy of exactly the prefix, so that reading past it is caught by ASan.
    const TBytes prefix(full.begin(), full.begin() + cut);
    try {
      smf.LoadFromMemory(prefix);
    } catch (const ESMF& e) {
      EXPECT_EQ(smf.TrackCount(), 0);
      EXPECT_LT(cut, 14u) << "only a short header fails: " << e.what();
      continue;
    }
    EXPECT_GE(cut, 14u);
    EXPECT_LE(smf.TrackCount(), 2);
    EXPECT_EQ(smf.Damage().empty(), cut == full.size()) << "every cut is noticed: " << cut;
    for (int i = 0; i < smf.TrackCount(); ++i)
      ExpectTrackInvariant(*smf.GetTrack(i));
  }
}

class SMFFile : public ::testing::Test {
protected:
  void SetUp() override {
    FDir =
        std::filesystem::temp_directory_path() / ("pelrow_smf_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  std::string Write(const std::string& name, const TBytes& bytes) {
    const auto path = FDir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
  }

  std::filesystem::path FDir;
};

TEST_F(SMFFile, LoadsFromDiskAndKeepsTheNamePart) {
  const std::string path =
      Write("song.mid", OneTrack(WithEnd({0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7})));
  TSMF smf;
  smf.LoadFromFile(path);
  EXPECT_EQ(smf.FileName(), "song.mid");
  ASSERT_EQ(smf.TrackCount(), 1);
  EXPECT_EQ(DataOf(smf.GetTrack(0)->Events()[0]), (TBytes{0xF0, 0x7E, 0x01, 0xF7}));
  smf.Clear();
  EXPECT_EQ(smf.FileName(), "");
  EXPECT_EQ(smf.TrackCount(), 0);
}

TEST_F(SMFFile, WhatCannotBeOpenedIsReported) {
  TSMF smf;
  smf.LoadFromFile(Write("first.mid", OneTrack(EndOfTrack)));
  for (const std::string& path : {(FDir / "missing.mid").string(), FDir.string()}) {
    try {
      smf.LoadFromFile(path);
      ADD_FAILURE() << path;
    } catch (const ESMF& e) {
      EXPECT_STREQ(e.what(), "Error: Midi-File could not be opened");
      EXPECT_EQ(e.Code(), SMFCannotOpen);
    }
    EXPECT_EQ(smf.TrackCount(), 0);
    EXPECT_EQ(smf.FileName(), "");
  }
}

} // namespace
} // namespace pelrow
