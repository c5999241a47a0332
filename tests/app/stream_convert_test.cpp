// Streaming conversion against the window's own loader and formatter: the text it
// writes is the window's lines for the same bytes, hex text comes back byte for
// byte, and damaged input is refused with its place named.
#include "app/stream_convert.h"

#include "app/file_loader.h"
#include "app/hex_notation.h"
#include "file_test_support.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace pelrow {
namespace {

using test::Bytes;
using test::EndOfTrack;
using test::MidiFile;
using test::SysExEvent;

// Keeps what it is given; refuses everything after a limit.
class TStringSink : public TByteSink {
public:
  bool Write(const char* data, std::size_t size) override {
    if (Text.size() + size > Limit)
      return false;
    Text.append(data, size);
    return true;
  }
  std::string Text;
  std::size_t Limit = SIZE_MAX;
};

// Bytes of every kind: runs of data bytes, status bytes, F7 within runs.
std::string MixedBytes(std::size_t count) {
  std::string bytes(count, '\0');
  uint32_t state = 99;
  for (char& b : bytes) {
    state = state * 1664525u + 1013904223u;
    const uint32_t r = state >> 24;
    b = static_cast<char>(r < 200 ? r & 0x7F : r);
  }
  return bytes;
}

class StreamConvert : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteWholeFile(FFolder.Path(name), bytes);
    return FFolder.Path(name);
  }
  TConvertResult Convert(const std::string& in, const std::string& out, int split = -1) {
    FSink.Text.clear();
    return ConvertStream({in, FFolder.Path(out), split, {}}, FSink);
  }
  // The window's lines for a file, as its Save writes them: each line ended by LF.
  std::string WindowText(const std::string& path, int split) {
    test::TSteppingClock clock;
    TFileLoader loader(clock);
    TVKStrings lines;
    EXPECT_TRUE(loader.LoadFile(path, lines, split));
    std::string text;
    for (int i = 0; i < lines.Count(); ++i)
      text.append(lines[i]).append("\n");
    return text;
  }

  TScratchFolder FFolder;
  TStringSink FSink;
};

// Large enough that hex pairs and line ends fall across the reading chunks.
TEST_F(StreamConvert, BytesBecomeTheWindowsLinesAndComeBackByteForByte) {
  const std::string bytes = MixedBytes(700 * 1000);
  const std::string syx = Write("mixed.syx", bytes);
  const std::string mid = Write(
      "packets.mid",
      MidiFile({SysExEvent(0xF0, Bytes({0x43, 0x10, 0x01})) + Bytes({0x00, 0x90, 0x3C, 0x40}) +
                    SysExEvent(0xF7, Bytes({0x02, 0x03, 0xF7}), 0x10) +
                    SysExEvent(0xF0, MixedBytes(100).substr(50)) + EndOfTrack,
                SysExEvent(0xF0, Bytes({0x7E, 0xF7})) + EndOfTrack}));
  for (const std::string& input : {syx, mid}) {
    for (const int split : {-1, 7}) {
      TConvertResult result = Convert(input, "out.txt", split);
      ASSERT_EQ(result.Status, TConvertStatus::Done) << result.Message;
      const std::string text = FSink.Text;
      EXPECT_EQ(text, WindowText(input, split)) << input << " " << split;
      EXPECT_EQ(result.Lines, static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')));

      result = Convert(Write("back.txt", text), "back.syx");
      ASSERT_EQ(result.Status, TConvertStatus::Done) << result.Message;
      EXPECT_EQ(result.Note, "");
      if (input == syx) {
        EXPECT_EQ(FSink.Text, bytes);
      }
    }
  }
  ASSERT_EQ(Convert(mid, "packets.syx").Status, TConvertStatus::Done);
  EXPECT_EQ(FSink.Text.substr(0, 8), Bytes({0xF0, 0x43, 0x10, 0x01, 0x02, 0x03, 0xF7, 0xF0}));
  ASSERT_EQ(Convert(syx, "copy.bin").Status, TConvertStatus::Done);
  EXPECT_EQ(FSink.Text, bytes);
}

TEST_F(StreamConvert, HexTextIsReadWithTheWindowsNotation) {
  struct TCase {
    std::string Text;
    std::string Output; // ".syx" or ".txt"
    std::string Expected;
    std::string Note; // after the file's name
  };
  const TCase cases[] = {
      {"F0 7E\r\n  f7 // G\r;x\n#x\n\n90 3C 40 ;", ".syx",
       Bytes({0xF0, 0x7E, 0xF7, 0x90, 0x3C, 0x40}), ""},
      // The last character of a line never starts a byte.
      {"F0 41 7 \nF7", ".syx", Bytes({0xF0, 0x41, 0xF7}),
       ":1:7: a lone hex digit \"7\" at the end of the line (a byte takes two digits)"},
      // Lines as they are, with LF line ends and one at the end.
      {"a\r\nb\rc\n\n  d G ", ".txt", "a\nb\nc\n\n  d G \n", ""},
      {"", ".txt", "", ""},
  };
  for (const TCase& c : cases) {
    const std::string path = Write("in.txt", c.Text);
    const TConvertResult result = Convert(path, "out" + c.Output);
    EXPECT_EQ(result.Status, TConvertStatus::Done) << c.Text << result.Message;
    EXPECT_EQ(FSink.Text, c.Expected) << c.Text;
    EXPECT_EQ(result.Note, c.Note.empty() ? "" : path + c.Note) << c.Text;
  }
}

// Random texts of digits, blanks, comment marks, stray characters and line breaks:
// the bytes are those of the window's parser, and its first report is the refusal.
TEST_F(StreamConvert, ReadsHexTextExactlyAsTheWindowsParser) {
  const std::string alphabet = "0Fa7  \t/;#x\r\n\n";
  uint32_t state = 7;
  const auto next = [&](uint32_t below) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % below;
  };
  for (int round = 0; round < 400; ++round) {
    std::string text(next(120), ' ');
    for (char& c : text)
      c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    TVKStrings lines;
    lines.SetText(text);
    std::string report, bytes;
    THexParser parser([&](const std::string& t, TStatusSide, TStatusKind, bool) {
      if (report.empty())
        report = t;
    });
    for (int i = 0; i < lines.Count() && report.empty(); ++i) {
      std::string_view line = lines[i];
      while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32)
        line.remove_suffix(1);
      int count = 0;
      if (parser.ParseLine(i, line, count))
        bytes.append(reinterpret_cast<const char*>(parser.MsgBuf()), static_cast<size_t>(count));
    }
    const std::string path = Write("random.txt", text);
    const TConvertResult result = Convert(path, "out.syx");
    if (report.empty()) {
      EXPECT_EQ(result.Status, TConvertStatus::Done) << text;
      EXPECT_EQ(FSink.Text, bytes) << text;
    } else {
      EXPECT_EQ(result.Message, path + ":" + report.substr(5)) << text;
    }
  }
}

TEST_F(StreamConvert, DamagedInputIsRefusedWithItsPlaceBeforeAnythingIsWritten) {
  const std::string whole = MidiFile({SysExEvent(0xF0, Bytes({0x01, 0xF7})) + EndOfTrack});
  std::string cutTrack = whole;
  cutTrack.replace(18, 4, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  const std::string withoutSysEx = MidiFile({Bytes({0x00, 0x90, 0x3C, 0x40}) + EndOfTrack});
  struct TCase {
    std::string Name;
    std::string Content;
    std::string Message; // after the file's name
  };
  const TCase cases[] = {
      {"bad.txt", "F0 01 F7\nF0 02 G3 F7\n", ":2:8: Unexpected characters: \"G3\""},
      {"blank.txt", "F0 01 F7\n  F0 7 x\n", ":2:7: Unexpected characters: \"7 \""},
      {"slash.txt", "F0 /x F7", ":1:5: Unexpected characters: \"/x\""},
      {"nul.txt", "F0 F7\nF0" + std::string(1, '\0') + "F7",
       ":2:3: a NUL character: this is no hex text"},
      {"cut.mid", cutTrack,
       " is damaged (track 1 ends before its stated length); nothing was converted"},
      {"short.mid", whole.substr(0, 25),
       " is damaged (track 1 ends before its stated length); nothing was converted"},
      {"riff.mid", "RIFF" + withoutSysEx, ": File is no Standard Midi File"},
  };
  for (const TCase& c : cases) {
    const std::string path = Write(c.Name, c.Content);
    const TConvertResult result = Convert(path, "out.syx");
    EXPECT_EQ(result.Status, TConvertStatus::BadInput) << c.Name;
    EXPECT_EQ(result.Message, path + c.Message);
    if (c.Name.ends_with(".mid")) {
      EXPECT_EQ(FSink.Text, "") << c.Name;
    }
  }
  EXPECT_EQ(Convert(FFolder.Path("missing.syx"), "out.txt").Message,
            "Could not open " + FFolder.Path("missing.syx") + ": No such file or directory");
  EXPECT_EQ(Convert(FFolder.Path(), "out.txt").Message,
            "Could not open " + FFolder.Path() + ": Is a directory");
}

TEST_F(StreamConvert, StopsWhenAskedAndWhenTheSinkFails) {
  const std::string syx = Write("big.syx", MixedBytes(2 * 1000 * 1000));
  int polls = 0;
  TConvertResult result = ConvertStream({syx, "out.txt", -1, [&] { return ++polls > 2; }}, FSink);
  EXPECT_EQ(result.Status, TConvertStatus::Stopped);
  EXPECT_EQ(polls, 3);
  EXPECT_LT(FSink.Text.size(), 3u * 1000 * 1000);

  FSink.Text.clear();
  FSink.Limit = 100 * 1000;
  result = Convert(syx, "out.txt");
  EXPECT_EQ(result.Status, TConvertStatus::WriteFailed);
}

} // namespace
} // namespace pelrow
