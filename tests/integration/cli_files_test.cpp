// pelrow-cli's file jobs end to end: the built program converting files as the
// window loads and saves them, and refusing what it cannot write without touching
// anything. The loopback port serves the one MIDI case that needs no server.
#include "cli_process.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace pelrow::testing {
namespace {

class CliFiles : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteWholeFile(FFolder.Path(name), bytes);
    return FFolder.Path(name);
  }
  TScratchFolder FFolder;
};

// Every byte value, SysEx or not, as a file that is no dump at all.
std::string AllByteValues() {
  std::string bytes;
  for (int round = 0; round < 40; ++round)
    for (int value = 0; value < 256; ++value)
      bytes.push_back(static_cast<char>((value * 7 + round) & 0xFF));
  return bytes;
}

TEST_F(CliFiles, ConvertRoundTripsSyxThroughTextByteForByte) {
  const std::string syx = Write("any.syx", AllByteValues());
  for (const std::string split : {"", "16"}) {
    std::vector<std::string> toText{"convert", syx, FFolder.Path("any.txt")};
    if (!split.empty())
      toText.insert(toText.begin() + 1, {"--split", split});
    TCliResult result = RunCli(toText, FFolder.Path());
    ASSERT_EQ(result.Status, 0) << result.Err;
    result = RunCli({"convert", FFolder.Path("any.txt"), FFolder.Path("back.syx")}, FFolder.Path());
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(ReadWholeFile(FFolder.Path("back.syx")), ReadWholeFile(syx)) << split;
  }
  // Split at 16 bytes, the longest line holds 16 bytes: 47 characters. Lines end
  // with LF, the last one too.
  const std::string text = ReadWholeFile(FFolder.Path("any.txt"));
  ASSERT_TRUE(text.ends_with('\n'));
  EXPECT_EQ(text.find('\r'), std::string::npos);
  size_t longest = 0;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    longest = std::max(longest, end - start);
  }
  EXPECT_EQ(longest, 47u);
}

TEST_F(CliFiles, ConvertTakesTheSysExEventsOfAMidiFile) {
  // One track: a whole message, a note, a message in two timed packets, the end.
  const std::string track =
      std::string("\x00\xF0\x05\x7E\x7F\x06\x01\xF7", 8) + std::string("\x00\x90\x3C\x40", 4) +
      std::string("\x10\xF0\x03\x43\x10\x01", 6) + std::string("\x10\xF7\x03\x02\x03\xF7", 6) +
      std::string("\x00\xFF\x2F\x00", 4);
  const std::string mid =
      Write("song.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk" +
                            std::string("\0\0\0", 3) + static_cast<char>(track.size()) + track);
  const TCliResult result = RunCli({"convert", mid, FFolder.Path("song.syx")}, FFolder.Path());
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(ReadWholeFile(FFolder.Path("song.syx")),
            std::string("\xF0\x7E\x7F\x06\x01\xF7\xF0\x43\x10\x01\x02\x03\xF7", 13));
}

TEST_F(CliFiles, BadInputLeavesTheOutputAsItWas) {
  const std::string old = Write("old.syx", "\xF0\x01\xF7");
  const std::string bad = Write("bad.txt", "F0 01 F7\nF0 02 G3 F7\n");
  TCliResult result = RunCli({"convert", bad, old}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "pelrow-cli: " + bad + ":2:8: Unexpected characters: \"G3\"\n");

  result = RunCli({"convert", FFolder.Path("missing.syx"), old}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "pelrow-cli: Could not open " + FFolder.Path("missing.syx") + "\n");

  // A track length far past the end of the file: the file is cut short.
  const std::string cut = Write("cut.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk", 18) +
                                               "\xFF\xFF\xFF\xFF\x00\xF0\x01\xF7\x00\xFF\x2F\x00");
  result = RunCli({"convert", cut, old}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "pelrow-cli: " + cut +
                            " is damaged (track 1 ends before its stated length); nothing was "
                            "converted\n");

  result = RunCli({"convert", old, FFolder.Path("song.mid")}, FFolder.Path());
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(ReadWholeFile(old), "\xF0\x01\xF7");
}

// A folder the user may not write to. Root may write anywhere, so the program
// gives up root first.
TEST_F(CliFiles, AnOutputInAReadOnlyFolderIsRefusedBeforeAnythingHappens) {
  ::chmod(FFolder.Path().c_str(), 0755);
  const std::string source = Write("source.syx", "\xF0\x02\xF7");
  ::chmod(source.c_str(), 0644);
  const std::string folder = FFolder.Path("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string old = folder + "/old.syx";
  WriteWholeFile(old, "\xF0\x01\xF7");
  ::chmod(old.c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  const std::string refusal = "pelrow-cli: Cannot create file \"" + old + "\". Permission denied\n";

  TCliResult result = RunCli({"convert", source, old}, FFolder.Path(), {}, true);
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, refusal);

  result = RunCli({"--midi=loopback", "request", "--out", "Pelrow Loopback", "--in",
                   "Pelrow Loopback", "--hex", "F0 7E 7F 06 01 F7", "-o", old},
                  FFolder.Path(), {}, true);
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, refusal);
  EXPECT_EQ(ReadWholeFile(old), "\xF0\x01\xF7");
  ::chmod(folder.c_str(), 0755);
}

// The loopback port gives back what goes out on it, so a request against it gets
// itself as the reply, in one process.
TEST_F(CliFiles, RequestOverTheLoopbackGetsItselfBack) {
  const TCliResult result =
      RunCli({"--midi=loopback", "request", "--out", "Pelrow Loopback", "--in", "pelrow loopback",
              "--hex", "F0 7E 7F 06 01 F7", "--quiet", "200", "--split", "3"},
             FFolder.Path());
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "F0 7E 7F\n06 01 F7\n");
}

} // namespace
} // namespace pelrow::testing
