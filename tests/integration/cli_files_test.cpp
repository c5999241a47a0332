// pelrow-cli's file jobs end to end: the built program converting files as the
// window loads and saves them, and refusing what it cannot write without touching
// anything. The loopback port serves the one MIDI case that needs no server.
#include "cli_process.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>

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
    end = std::min(text.find('\n', start), text.size());
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
  EXPECT_EQ(result.Err, "pelrow-cli: Could not open " + FFolder.Path("missing.syx") +
                            ": No such file or directory\n");

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
  // An unknown kind of output is a mistake, not a wish for raw bytes.
  result = RunCli({"convert", old, FFolder.Path("dump.bin")}, FFolder.Path());
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "pelrow-cli: " + FFolder.Path("dump.bin") +
                            ": unknown kind of output file \".bin\" (use .syx for raw bytes or "
                            ".txt for hex lines)\n");
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

// Input that is damaged, empty or no dump at all is refused with the file and the
// problem named, and the old output stays as it was. What the user typed wrong is
// placed by line and column; bytes that are no text are shown as hex.
TEST_F(CliFiles, DamagedOrEmptyInputIsRefusedNamingTheFileAndTheProblem) {
  const std::string header("MThd\0\0\0\6\0\0\0\1\0\x60", 14);
  const std::string sysex("\0\xF0\x03\x01\x02\xF7", 6);
  ::mkdir(FFolder.Path("adir").c_str(), 0755);
  // "@" stands for the file's path.
  const struct {
    std::string Name, Bytes, Err;
  } cases[] = {
      {"huge.mid", header + "MTrk\xFF\xFF\xFF\xFF" + sysex,
       "@ is damaged (track 1 ends before its stated length); nothing was converted"},
      {"cut.mid", header + std::string("MTrk\0\0\0\x20", 8) + sysex,
       "@ is damaged (track 1 ends before its stated length); nothing was converted"},
      {"notes.mid", header + std::string("MTrk\0\0\0\x08\0\x90\x3C\x40\0\xFF\x2F\0", 16),
       "no System Exclusive messages in @"},
      {"riff.mid", "RIFF....", "@: File is no Standard Midi File"},
      {"noise.txt", std::string("F0 01\n\x8F\x01zz", 10),
       "@:2:2: Unexpected characters: \"<8F><01>\""},
      {"odd.txt", "F0 1FF\nF7\n",
       "@:1:6: a lone hex digit \"F\" at the end of the line (a byte takes two digits)"},
      {"empty.syx", "", "@ holds no MIDI bytes; nothing was written"},
      {"comments.txt", "; nothing here\n", "@ holds no MIDI bytes; nothing was written"},
      {"adir", "", "Could not open @: Is a directory"},
  };
  const std::string keep = Write("keep.syx", "\xF0\x01\xF7");
  for (const auto& c : cases) {
    if (c.Name != "adir")
      Write(c.Name, c.Bytes);
    const TCliResult result = RunCli({"convert", FFolder.Path(c.Name), keep}, FFolder.Path());
    std::string err = c.Err;
    err.replace(err.find('@'), 1, FFolder.Path(c.Name));
    EXPECT_EQ(result.Status, 1) << c.Name;
    EXPECT_EQ(result.Err, "pelrow-cli: " + err + "\n") << c.Name;
    EXPECT_EQ(ReadWholeFile(keep), "\xF0\x01\xF7") << c.Name;
  }
  // A lone last digit typed on the command line is the same mistake.
  const TCliResult typed = RunCli({"--midi=loopback", "send", "--out", "Pelrow Loopback", "--hex",
                                   "F0 1FF", "--hex", "F7"},
                                  FFolder.Path());
  EXPECT_EQ(typed.Status, 1);
  EXPECT_EQ(typed.Err, "pelrow-cli: --hex:1:6: a lone hex digit \"F\" at the end of the line (a "
                       "byte takes two digits)\n");
}

// Any readable file is input: a FIFO is read once its writer comes, standard input
// takes raw bytes as well as hex text, told apart by content or by --format.
TEST_F(CliFiles, PipesFifosAndStandardInputAreRead) {
  const std::string syx("\xF0\x41\x10\xF7", 4);
  const std::string fifo = FFolder.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { WriteWholeFile(fifo, syx); });
  TCliResult result = RunCli({"convert", fifo, FFolder.Path("from-fifo.txt")}, FFolder.Path());
  writer.join();
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(ReadWholeFile(FFolder.Path("from-fifo.txt")), "F0 41 10 F7\n");

  const struct {
    std::vector<std::string> Args;
    std::string In, Out;
  } cases[] = {
      {{"convert", "-", "-"}, syx, "F0 41 10 F7\n"},
      {{"convert", "-", "-"}, "f0 41 10 f7\r\n", "f0 41 10 f7\n"},
      {{"convert", "--format", "syx", "-", "-"}, "F0", "46 30\n"},
      {{"convert", "--format", "txt", "-", FFolder.Path("typed.syx")}, "  F0 41 10 F7", ""},
      {{"--midi=loopback", "send", "--out", "Pelrow Loopback", "-"}, syx, ""},
  };
  for (const auto& c : cases) {
    result = RunCli(c.Args, FFolder.Path(), c.In);
    EXPECT_EQ(result.Status, 0) << c.In << result.Err;
    EXPECT_EQ(result.Out, c.Out) << c.In;
  }
  EXPECT_EQ(ReadWholeFile(FFolder.Path("typed.syx")), syx);
}

// The first Ctrl-C, SIGTERM, SIGQUIT or hangup stops reading at once, also while a
// FIFO's writer keeps it open: the program ends with 128 + the signal, the old
// output kept and no temporary file left.
TEST_F(CliFiles, TheFirstSignalStopsLoadingAtOnce) {
  const std::string fifo = FFolder.Path("endless");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string keep = Write("keep.txt", "F0 01 F7\n");
  const std::vector<std::string> commands[] = {
      {"convert", fifo, keep},
      {"--midi=loopback", "send", "--out", "Pelrow Loopback", fifo},
      {"check", fifo},
  };
  for (const auto& args : commands) {
    for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
      TCliProcess process(args, FFolder.Path());
      // Opening the FIFO waits for the reader; the writer then stays.
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::write(fd, "\xF0\x01", 2), 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      process.Signal(signal);
      const TCliResult result = process.Wait(10000);
      ::close(fd);
      EXPECT_EQ(result.Status, 128 + signal) << args[0] << " " << signal << result.Err;
      EXPECT_EQ(ReadWholeFile(keep), "F0 01 F7\n");
    }
  }
  std::vector<std::string> names;
  DIR* dir = ::opendir(FFolder.Path().c_str());
  while (const dirent* entry = ::readdir(dir))
    if (std::string(entry->d_name).find(".tmp-") != std::string::npos)
      names.push_back(entry->d_name);
  ::closedir(dir);
  EXPECT_EQ(names, std::vector<std::string>{});
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
