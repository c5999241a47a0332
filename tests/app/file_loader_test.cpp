// Loading real files from a scratch folder into a line list: the file kinds, how
// bytes become lines, large files with progress, MIDI files and their System
// Exclusive packets, text files, and failures that must leave the lines alone.
#include "app/file_loader.h"

#include <gtest/gtest.h>

#include "app/dialog_filter.h"
#include "app/hex_notation.h"
#include "app/line_formatter.h"
#include "file_test_support.h"
#include "support/scratch_folder.h"
#include "support/text_format.h"

namespace pelrow {
namespace {

using namespace test;
using TLines = std::vector<std::string>;

class FileLoad : public ::testing::Test {
protected:
  FileLoad() : FLoader(FClock) {
    FLoader.ShowStatus = FLog.Reporter();
    FLoader.OnLoaded = [this](TFileLoader&, const std::string& name) { FLoaded.push_back(name); };
    FLoader.OnBusy = [this](TFileLoader&, bool busy) { FBusy.push_back(busy); };
    FLines.Add("old line");
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = FFolder.Path(name);
    WriteWholeFile(path, bytes);
    return path;
  }

  bool Load(const std::string& path, int splitThreshold = -1) {
    return FLoader.LoadFile(path, FLines, splitThreshold);
  }

  // Every line as parsed for sending, joined: what the output would receive.
  std::string SentBytes() {
    THexParser parser;
    std::string sent;
    for (int i = 0; i < FLines.Count(); ++i) {
      int count = 0;
      if (parser.ParseLine(i, FLines[i], count))
        sent.append(reinterpret_cast<const char*>(parser.MsgBuf()), std::size_t(count));
    }
    return sent;
  }

  TScratchFolder FFolder;
  TSteppingClock FClock;
  TReportLog FLog;
  TFileLoader FLoader;
  TVKStrings FLines;
  std::vector<std::string> FLoaded;
  std::vector<bool> FBusy;
};

TEST(FileKind, ChosenByExtensionAloneInAnyCase) {
  EXPECT_EQ(FileKindOf("a/song.MID"), TFileKind::MidiFile);
  EXPECT_EQ(FileKindOf("song.Mid"), TFileKind::MidiFile);
  EXPECT_EQ(FileKindOf("lines.TxT"), TFileKind::Text);
  for (const char* raw : {"dump.syx", "dump.SYX", "dump.bin", "dump", "notes.mid.bak",
                          "folder.mid/dump", "folder.txt/"})
    EXPECT_EQ(FileKindOf(raw), TFileKind::RawBytes) << raw;
}

TEST(FileKind, DialogFiltersInTheToolkitsForm) {
  EXPECT_EQ(
      DialogNameFilters(OpenDialogFilter),
      (std::vector<std::string>{"All supported Files (*.syx *.mid *.txt)", "Sys Ex Files (*.syx)",
                                "MIDI files (*.mid)", "Text Messages (*.txt)", "All Files (*.*)"}));
  EXPECT_EQ(DialogNameFilters("Dumps|*.syx;*.bin|odd"),
            (std::vector<std::string>{"Dumps (*.syx *.bin)"}));
}

TEST_F(FileLoad, UpperCaseExtensionsChooseTheirKind) {
  const std::string sysEx = Bytes({0xF0, 0x41, 0x10, 0xF7});
  ASSERT_TRUE(Load(Write("song.Mid", MidiFile({SysExEvent(0xF0, sysEx.substr(1)) + EndOfTrack}))));
  EXPECT_EQ(LinesOf(FLines), TLines{"F0 41 10 F7"});
  ASSERT_TRUE(Load(Write("DUMP.SYX", sysEx)));
  EXPECT_EQ(LinesOf(FLines), TLines{"F0 41 10 F7"});
  ASSERT_TRUE(Load(Write("NOTES.TXT", "F0 41 10 F7 ; as text\r\n")));
  EXPECT_EQ(LinesOf(FLines), TLines{"F0 41 10 F7 ; as text"});
  // Text in a .bin file is still bytes.
  ASSERT_TRUE(Load(Write("dump.bin", "AB")));
  EXPECT_EQ(LinesOf(FLines), TLines{"41 42"});
}

TEST_F(FileLoad, RawBytesBecomeOneLinePerMessage) {
  const std::string path = Write("two.syx", Bytes({0xF0, 0x41, 0x10, 0xF7, 0x90, 0x3C, 0x40}));
  ASSERT_TRUE(Load(path));
  EXPECT_EQ(LinesOf(FLines), (TLines{"F0 41 10 F7", "90 3C 40"}));
  EXPECT_EQ(FLoaded, TLines{path});
  EXPECT_EQ(FBusy, (std::vector<bool>{true, false}));
  ASSERT_EQ(FLog.Reports.size(), 2u);
  EXPECT_EQ(FLog.Reports[0].Text, "Loading " + path + "...");
  EXPECT_TRUE(FLog.Reports[0].Immediate);
  EXPECT_EQ(FLog.Last().Text, path + " was loaded succesfully (7 bytes).");
  EXPECT_EQ(FLog.Last().Side, TStatusSide::Out);
  EXPECT_EQ(FLog.Last().Kind, TStatusKind::Plain);
  EXPECT_FALSE(FLog.Last().Immediate);

  // Data bytes before any status byte form a line of their own.
  ASSERT_TRUE(Load(Write("stray.syx", Bytes({0x01, 0x02, 0x7F, 0xF0, 0x7E, 0xF7, 0xF7, 0x05}))));
  EXPECT_EQ(LinesOf(FLines), (TLines{"01 02 7F", "F0 7E F7 F7 05"}));
}

TEST_F(FileLoad, EmptyRawFileEmptiesTheLines) {
  const std::string path = Write("empty.syx", "");
  ASSERT_TRUE(Load(path, 32));
  EXPECT_EQ(FLines.Count(), 0);
  EXPECT_EQ(FLog.Last().Text, path + " was loaded succesfully (0 bytes).");
}

TEST_F(FileLoad, LongMessagesAreSplitAtTheThreshold) {
  const std::string path = Write("long.syx", SysExOf(100));
  ASSERT_TRUE(Load(path, 32));
  ASSERT_EQ(FLines.Count(), 4);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(FLines[i].size(), 32u * 3 - 1) << i;
  EXPECT_EQ(FLines[3].size(), 4u * 3 - 1);
  EXPECT_EQ(FLines[3], "60 61 62 F7");

  ASSERT_TRUE(Load(path, SplitThreshold(false, 32)));
  ASSERT_EQ(FLines.Count(), 1);
  EXPECT_EQ(FLines[0].size(), 100u * 3 - 1);
  EXPECT_EQ(SentBytes(), SysExOf(100));

  // A message of megabytes, unsplit, goes into the list in pieces that join into
  // one line, between the messages around it.
  const std::size_t huge = 2 * THexLineAppender::LongLinePieceBytes + 7;
  const std::string around = Bytes({0x90, 0x3C, 0x40}) + SysExOf(huge) + Bytes({0xC0, 0x05});
  ASSERT_TRUE(Load(Write("huge.syx", around), SplitThreshold(false, 32)));
  ASSERT_EQ(FLines.Count(), 3);
  EXPECT_EQ(FLines[1].size(), huge * 3 - 1);
  EXPECT_EQ(SentBytes(), around);
}

TEST_F(FileLoad, FilesAbove100000BytesShowProgressAndTheirTime) {
  std::string bytes;
  while (bytes.size() < 100001)
    bytes += SysExOf(500, int(bytes.size()));
  const std::string atLimit = Write("limit.syx", bytes.substr(0, 100000));
  const std::string above = Write("above.syx", bytes.substr(0, 100001));

  ASSERT_TRUE(Load(atLimit, 32));
  EXPECT_TRUE(FLog.OfKind(TStatusKind::StatusOnly).empty());
  EXPECT_EQ(FLog.Last().Text, atLimit + " was loaded succesfully (100000 bytes).");

  FLog.Reports.clear();
  ASSERT_TRUE(Load(above, 32));
  const std::vector<TReport> progress = FLog.OfKind(TStatusKind::StatusOnly);
  ASSERT_GE(progress.size(), 50u);
  int last = -1;
  for (const TReport& report : progress) {
    int percent = -1;
    ASSERT_EQ(std::sscanf(report.Text.c_str(), "Loading %d%%...", &percent), 1) << report.Text;
    EXPECT_EQ(report.Text, FormatText("Loading %d%%...", percent));
    EXPECT_GT(percent, last) << "each report moves on";
    EXPECT_LE(percent, 100);
    EXPECT_EQ(report.Side, TStatusSide::Out);
    EXPECT_TRUE(report.Immediate);
    last = percent;
  }
  EXPECT_GE(last, 99);
  // One clock reading when reading ends, one at the end: the clock steps 7 ms.
  EXPECT_EQ(FLog.Last().Text, above + " was loaded succesfully in 7 ms (100001 bytes)");
  EXPECT_EQ(SentBytes(), bytes.substr(0, 100001));
}

TEST_F(FileLoad, MidiFileWithoutSystemExclusiveEmptiesTheLines) {
  const std::string path =
      Write("notes.mid", MidiFile({Bytes({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00,
                                          0xFF, 0x01, 0x02, 'h', 'i'}) +
                                   EndOfTrack}));
  ASSERT_TRUE(Load(path, 32));
  EXPECT_EQ(FLines.Count(), 0);
  EXPECT_EQ(FLog.Reports.size(), 1u) << "no Loading message for a MIDI file";
  EXPECT_EQ(FLog.Last().Text, path + " was loaded succesfully (0 bytes).");
  EXPECT_TRUE(FBusy.empty());
}

TEST_F(FileLoad, SystemExclusiveInPacketsIsSentAsOneMessage) {
  // One message stored as an F0 packet and two F7 continuation packets, the last
  // holding only the closing F7; then a whole message, and an escape event.
  const std::string message = SysExOf(80);
  const std::string track =
      Bytes({0x00, 0x05, 0x01}) + // data bytes before any status: read over
      SysExEvent(0xF0, message.substr(1, 30)) + Bytes({0x10, 0x90, 0x3C, 0x40}) +
      SysExEvent(0xF7, message.substr(31, 48), 0x10) + SysExEvent(0xF7, message.substr(79), 0x10) +
      SysExEvent(0xF0, Bytes({0x7E, 0x7F, 0xF7})) + SysExEvent(0xF7, Bytes({0xF8})) + EndOfTrack;
  const std::string path =
      Write("packets.mid", MidiFile({track, SysExEvent(0xF0, Bytes({0x01, 0xF7})) + EndOfTrack}));

  ASSERT_TRUE(Load(path, -1));
  EXPECT_EQ(LinesOf(FLines).at(1), "F0 7E 7F F7");
  EXPECT_EQ(LinesOf(FLines).at(2), "F8");
  EXPECT_EQ(LinesOf(FLines).at(3), "F0 01 F7") << "a new track starts a new line";
  ASSERT_EQ(FLines.Count(), 4);
  const std::string expected = message + Bytes({0xF0, 0x7E, 0x7F, 0xF7, 0xF8, 0xF0, 0x01, 0xF7});
  EXPECT_EQ(SentBytes(), expected);
  EXPECT_EQ(FLog.Last().Text,
            path + " was loaded succesfully (" + std::to_string(expected.size()) + " bytes).");

  ASSERT_TRUE(Load(path, 32));
  EXPECT_EQ(SentBytes(), expected);
  for (int i = 1; i < 3; ++i)
    EXPECT_NE(FLines[i].substr(0, 2), "F0") << "the packets continue the message";
}

TEST_F(FileLoad, ADamagedMidiFileSaysSoAndKeepsWhatCouldBeRead) {
  std::string events;
  for (int i = 0; i < 3; ++i)
    events += SysExEvent(0xF0, SysExOf(20, i).substr(1));
  const std::string whole = MidiFile({events + EndOfTrack});
  // Cut inside the third message, as a download that stopped early.
  const std::string cut = Write("cut.mid", whole.substr(0, whole.size() - 10));
  // A track length of 2^31 or more is no reason to drop what the track holds.
  std::string huge = whole;
  huge.replace(18, 4, Bytes({0x80, 0x00, 0x00, 0x00}));
  const std::string hugePath = Write("huge.mid", huge);

  const std::pair<std::string, int> cases[] = {{cut, 40}, {hugePath, 60}};
  for (const auto& [path, loaded] : cases) {
    FLog.Reports.clear();
    EXPECT_FALSE(Load(path));
    EXPECT_EQ(FLines.Count(), loaded / 20) << path;
    ASSERT_EQ(FLog.Reports.size(), 1u);
    EXPECT_EQ(FLog.Last().Text, path +
                                    " is damaged (track 1 ends before its stated length); only " +
                                    std::to_string(loaded) + " bytes could be loaded.");
    EXPECT_EQ(FLog.Last().Kind, TStatusKind::ErrorBox);
  }
}

TEST_F(FileLoad, TextLinesArriveUnchanged) {
  const std::string text = "F0 41 10 F7 ; comment\r\n"
                           "zz invalid \xE9\xFF\r"
                           "\tindented  \n"
                           "\r\n"
                           "last";
  const std::string path = Write("lines.txt", text + std::string(1, '\0') + "after NUL");
  ASSERT_TRUE(Load(path, 32));
  EXPECT_EQ(LinesOf(FLines),
            (TLines{"F0 41 10 F7 ; comment", "zz invalid \xE9\xFF", "\tindented  ", "", "last"}));
  EXPECT_EQ(FLog.Last().Text, path + " was loaded succesfully (5 lines).");
  EXPECT_TRUE(FLog.OfKind(TStatusKind::Error).empty()) << "text is checked only when sent";
}

TEST_F(FileLoad, FailuresAreReportedAndLeaveTheLinesAlone) {
  const std::string missing = FFolder.Path("missing.syx");
  const std::string notMidi = Write("not.mid", "RIFF....");
  const std::pair<std::string, std::string> cases[] = {
      {missing, "Could not open " + missing + ": No such file or directory"},
      {FFolder.Path(), "Could not open " + FFolder.Path() + ": Is a directory"},
      {FFolder.Path("missing.txt"),
       "Could not open " + FFolder.Path("missing.txt") + ": No such file or directory"},
      {notMidi, "Error: File is no Standard Midi File"},
      {FFolder.Path("missing.mid"), "Error: Midi-File could not be opened"},
  };
  for (const auto& [path, message] : cases) {
    FLog.Reports.clear();
    EXPECT_FALSE(Load(path));
    ASSERT_EQ(FLog.Reports.size(), 1u) << path;
    EXPECT_EQ(FLog.Last().Text, message);
    EXPECT_EQ(FLog.Last().Kind, TStatusKind::ErrorBox);
    EXPECT_EQ(FLog.Last().Side, TStatusSide::Out);
    EXPECT_EQ(LinesOf(FLines), TLines{"old line"});
  }
  EXPECT_TRUE(FLoaded.empty()) << "the recent-files list is not changed";
  EXPECT_TRUE(FBusy.empty());
}

} // namespace
} // namespace pelrow
