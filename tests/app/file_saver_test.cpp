// Saving lines to real files in a scratch folder: round trips through loading,
// the text and byte forms, the dialog's answers, and failures part-way that must
// leave the earlier file byte for byte as it was.
#include "app/file_saver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/file_loader.h"
#include "app/hex_notation.h"
#include "app/line_formatter.h"
#include "support/text_format.h"
#include "file_test_support.h"
#include "support/scratch_folder.h"

namespace pelrow {
namespace {

using namespace test;
using TLines = std::vector<std::string>;

TVKStrings LinesFrom(const TLines& lines) {
  TVKStrings list;
  list.AddStrings(lines);
  return list;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class FileSave : public ::testing::Test {
protected:
  FileSave() {
    FSaver.SetShowStatus(FLog.Reporter());
    FSaver.OnSaved = [this](TFileSaver&, const std::string& name) { FSaved.push_back(name); };
  }

  bool Save(const std::string& path, const TVKStrings& lines, TStatusSide side = TStatusSide::Out) {
    return FSaver.SaveFile(path, lines, side);
  }

  TScratchFolder FFolder;
  TReportLog FLog;
  TFileSaver FSaver;
  std::vector<std::string> FSaved;
};

TEST_F(FileSave, SyxLoadedAndSavedAgainKeepsItsBytes) {
  // Messages of many lengths, stray data bytes and short messages.
  std::string bytes = Bytes({0x05, 0x06});
  for (int i = 0; i < 40; ++i)
    bytes += SysExOf(std::size_t(2 + i * 7), i) + Bytes({0x90, 0x3C, i, 0xC1, i, 0xF8});
  const std::string source = FFolder.Path("source.syx");
  WriteWholeFile(source, bytes);

  TSteppingClock clock;
  TFileLoader loader(clock);
  for (const int threshold : {32, -1, 1}) {
    TVKStrings lines;
    ASSERT_TRUE(loader.LoadFile(source, lines, threshold));
    const std::string copy = FFolder.Path("copy" + std::to_string(threshold) + ".syx");
    ASSERT_TRUE(Save(copy, lines));
    EXPECT_EQ(ReadWholeFile(copy), bytes) << "threshold " << threshold;
    EXPECT_EQ(FLog.Last().Text,
              copy + " saved succesfully (" + std::to_string(bytes.size()) + " bytes).");
  }
}

TEST_F(FileSave, DefaultCommentLinesGiveAnEmptySyxFile) {
  TVKStrings lines;
  lines.SetText(DefaultOutBoxText);
  ASSERT_EQ(lines.Count(), 3);
  const std::string path = FFolder.Path("comments.syx");
  ASSERT_TRUE(Save(path, lines, TStatusSide::In));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(FLog.Last().Text, path + " saved succesfully (0 bytes).");
  EXPECT_EQ(FLog.Last().Side, TStatusSide::In);
  EXPECT_EQ(FLog.Last().Kind, TStatusKind::Plain);
  EXPECT_EQ(FSaved, TLines{path});
}

TEST_F(FileSave, InvalidPairsAreReportedOnTheOutSideAndValidBytesWritten) {
  const TVKStrings lines = LinesFrom({"  F0 7E zz 7F F7 \t", "", "90 3C 4"});
  const std::string path = FFolder.Path("mixed.syx");
  ASSERT_TRUE(Save(path, lines, TStatusSide::In));
  EXPECT_EQ(ReadWholeFile(path), Bytes({0xF0, 0x7E, 0x7F, 0xF7, 0x90, 0x3C}));
  const std::vector<TReport> errors = FLog.OfKind(TStatusKind::Error);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0].Text, UnexpectedCharactersText(1, 8, "zz"));
  EXPECT_EQ(errors[0].Side, TStatusSide::Out);
  EXPECT_EQ(FLog.Last().Side, TStatusSide::In);
  EXPECT_EQ(FLog.Last().Text, path + " saved succesfully (6 bytes).");
}

// The marks of lost input are comments: the bytes around them are saved as they
// are, but a .syx file shows nothing of the gap, so the user is warned; the text
// keeps the marks and needs no warning.
TEST_F(FileSave, ReceivedLinesWithGapsWarnWhenSavedAsBytes) {
  const std::string lost = FormatText(LostMarkLine, 12);
  struct TCase {
    TLines Lines;
    TStatusKind Warning; // Plain with no text: none
    const char* Text;
  } cases[] = {
      {{"F0 01 02", lost, "F0 03 F7"}, TStatusKind::ErrorBox, SavedWithGapsText},
      {{"F0 01 02", CutMarkLine, "F0 03 F7"}, TStatusKind::ErrorBox, SavedWithGapsText},
      {{"F0 01 02", MayBeLostMarkLine, "F0 03 F7"}, TStatusKind::Plain, SavedMaybeGapsText},
      {{"F0 01 02", "; a comment of the user's", "F0 03 F7"}, TStatusKind::Plain, ""},
  };
  for (const TCase& saveCase : cases) {
    SCOPED_TRACE(saveCase.Lines[1]);
    const std::string syx = FFolder.Path("dump.syx"), txt = FFolder.Path("dump.txt");
    FLog.Reports.clear();
    ASSERT_TRUE(Save(syx, LinesFrom(saveCase.Lines), TStatusSide::In));
    EXPECT_EQ(ReadWholeFile(syx), Bytes({0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}));
    const std::string warning = FormatText(saveCase.Text, syx);
    EXPECT_EQ(FLog.Last().Text, warning.empty() ? syx + " saved succesfully (6 bytes)." : warning);
    EXPECT_EQ(FLog.Last().Kind, saveCase.Warning);
    ASSERT_TRUE(Save(txt, LinesFrom(saveCase.Lines), TStatusSide::In));
    EXPECT_EQ(FLog.Last().Text, txt + " saved succesfully (3 lines).");
  }
}

TEST_F(FileSave, TextIsSavedExactlyAndLoadsBackTheSame) {
  const TLines original = {"F0 41 ; comment", "zz \xE9\xFF invalid", "", "\tlast  "};
  const std::string path = FFolder.Path("lines.TXT");
  ASSERT_TRUE(Save(path, LinesFrom(original)));
  EXPECT_EQ(ReadWholeFile(path), "F0 41 ; comment\nzz \xE9\xFF invalid\n\n\tlast  \n");
  EXPECT_EQ(FLog.Last().Text, path + " saved succesfully (4 lines).");
  EXPECT_TRUE(FLog.OfKind(TStatusKind::Error).empty()) << "text is not parsed";

  TSteppingClock clock;
  TFileLoader loader(clock);
  TVKStrings loaded;
  ASSERT_TRUE(loader.LoadFile(path, loaded, 32));
  EXPECT_EQ(LinesOf(loaded), original);

  // Every line ends with its own break, so an empty last line comes back too.
  ASSERT_TRUE(Save(path, LinesFrom({"a", ""})));
  ASSERT_TRUE(loader.LoadFile(path, loaded, 32));
  EXPECT_EQ(LinesOf(loaded), (TLines{"a", ""}));
  ASSERT_TRUE(Save(path, LinesFrom({})));
  EXPECT_EQ(ReadWholeFile(path), "");
}

TEST_F(FileSave, ReplacedFilesKeepTheirPermissionsAndNewOnesFollowTheUmask) {
  const std::string existing = FFolder.Path("shared.syx");
  WriteWholeFile(existing, "old");
  ::chmod(existing.c_str(), 0664);
  ASSERT_TRUE(Save(existing, LinesFrom({"F0 F7"})));
  EXPECT_EQ(ModeOf(existing), 0664u);

  const mode_t mask = ::umask(022);
  const std::string fresh = FFolder.Path("fresh.txt");
  ASSERT_TRUE(Save(fresh, LinesFrom({"x"})));
  ::umask(mask);
  EXPECT_EQ(ModeOf(fresh), 0644u);
  EXPECT_EQ(FolderEntries(FFolder.Path()), (TLines{"fresh.txt", "shared.syx"}));
}

TEST_F(FileSave, AReadOnlyFileIsNotReplaced) {
  const std::string text = FFolder.Path("factory.txt");
  const std::string syx = FFolder.Path("factory.syx");
  WriteWholeFile(text, "kept");
  WriteWholeFile(syx, "kept");
  ::chmod(text.c_str(), 0444);
  ::chmod(syx.c_str(), 0444);
  EXPECT_FALSE(Save(text, LinesFrom({"F0 F7"})));
  EXPECT_EQ(FLog.Last().Text, "Cannot create file \"" + text + "\". Permission denied");
  EXPECT_FALSE(Save(syx, LinesFrom({"F0 F7"})));
  EXPECT_EQ(ReadWholeFile(text), "kept");
  EXPECT_EQ(ReadWholeFile(syx), "kept");
  EXPECT_EQ(ModeOf(text), 0444u);
  EXPECT_TRUE(FSaved.empty());
}

// Runs a save in a child process, which may first narrow what it is allowed to
// do, and answers the text the save reported.
template <typename TLimit>
std::string SaveInChild(const std::string& path, const TVKStrings& lines, TLimit limit) {
  int channel[2];
  if (::pipe(channel) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    limit();
    std::string reported;
    TFileSaver saver;
    saver.SetShowStatus([&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
      if (kind == TStatusKind::ErrorBox || kind == TStatusKind::Plain)
        reported = text;
    });
    saver.SaveFile(path, lines, TStatusSide::Out);
    ssize_t ignored = ::write(channel[1], reported.data(), reported.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string reported;
  char chunk[512];
  ssize_t got;
  while ((got = ::read(channel[0], chunk, sizeof chunk)) > 0)
    reported.append(chunk, std::size_t(got));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return reported;
}

// What Debian's mido reads from a MIDI file, one message's bytes per line (meta
// messages left out); "unavailable" where mido is not installed.
std::string ReadWithMido(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c 'import sys\ntry:\n import mido\nexcept ImportError:\n "
      "print(\"unavailable\"); sys.exit()\nf = mido.MidiFile(sys.argv[1])\n"
      "print(f.type, len(f.tracks))\nfor m in f.tracks[0]:\n if not m.is_meta: print(m.hex())' " +
      path + " 2>&1";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
      out.append(chunk, got);
    ::pclose(pipe);
  }
  return out;
}

TEST_F(FileSave, MidiFileHoldsTheMessagesForThisProgramAndForOthers) {
  // A dump of many lengths, the longest over several lines when split.
  std::string bytes;
  for (int i = 0; i < 12; ++i)
    bytes += SysExOf(std::size_t(2 + i * 13), i);
  bytes += SysExOf(3000, 7);
  const std::string source = FFolder.Path("source.syx");
  WriteWholeFile(source, bytes);
  TSteppingClock clock;
  TFileLoader loader(clock);
  for (const int threshold : {32, -1}) {
    TVKStrings lines;
    ASSERT_TRUE(loader.LoadFile(source, lines, threshold));
    const std::string mid = FFolder.Path("copy" + std::to_string(threshold) + ".mid");
    ASSERT_TRUE(Save(mid, lines));
    EXPECT_EQ(FLog.Last().Text,
              mid + " saved succesfully (" + std::to_string(bytes.size()) + " bytes).");
    EXPECT_EQ(ReadWholeFile(mid).substr(0, 14),
              "MThd" + Bytes({0, 0, 0, 6, 0, 0, 0, 1, 0, 96})); // format 0, one track
    TVKStrings loaded;
    ASSERT_TRUE(loader.LoadFile(mid, loaded, threshold));
    EXPECT_EQ(LinesOf(loaded), LinesOf(lines));
  }

  // A message over two lines is an F0 event and an F7 packet; a channel message is
  // an event of its own.
  const std::string mid = FFolder.Path("mixed.mid");
  ASSERT_TRUE(
      Save(mid, LinesFrom({"F0 41 10", "42 12 F7", "90 3C 7F", "// note", "F0 7E 7F 06 01 F7"})));
  const std::string mido = ReadWithMido(mid);
  if (mido == "unavailable\n")
    GTEST_SKIP() << "python3-mido is not installed";
  EXPECT_EQ(mido, "0 1\nF0 41 10 F7\nF0 42 12 F7\n90 3C 7F\nF0 7E 7F 06 01 F7\n");
}

// A folder the user may not write to. Root may write anywhere, so the child then
// gives up root first.
void DropRoot() {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
    ::_exit(3);
}

TEST_F(FileSave, FailureInAReadOnlyFolderLeavesTheOldFile) {
  ::chmod(FFolder.Path().c_str(), 0755);
  const std::string folder = FFolder.Path("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string old = Bytes({0xF0, 0x01, 0x02, 0xF7, 0x00, 0xFF});
  const std::string syx = folder + "/dump.syx";
  const std::string txt = folder + "/dump.txt";
  WriteWholeFile(syx, old);
  WriteWholeFile(txt, old);
  ::chmod(syx.c_str(), 0666);
  ::chmod(txt.c_str(), 0666);
  ::chmod(folder.c_str(), 0555);

  const TVKStrings lines = LinesFrom({"F0 7E 7F F7"});
  EXPECT_EQ(SaveInChild(syx, lines, DropRoot), "Could not create " + syx + ". Permission denied");
  EXPECT_EQ(SaveInChild(txt, lines, DropRoot),
            "Cannot create file \"" + txt + "\". Permission denied");
  EXPECT_EQ(ReadWholeFile(syx), old);
  EXPECT_EQ(ReadWholeFile(txt), old);
  EXPECT_EQ(FolderEntries(folder), (TLines{"dump.syx", "dump.txt"}));
  ::chmod(folder.c_str(), 0755);

  // A file we may not write to, in a folder we may, is left alone with the reason.
  ::chmod(folder.c_str(), 0777);
  ::chmod(syx.c_str(), 0444);
  ::chmod(txt.c_str(), 0444);
  EXPECT_EQ(SaveInChild(syx, lines, DropRoot), "Could not create " + syx + ". Permission denied");
  EXPECT_EQ(SaveInChild(txt, lines, DropRoot),
            "Cannot create file \"" + txt + "\". Permission denied");
  EXPECT_EQ(ReadWholeFile(syx), old);
  ::chmod(folder.c_str(), 0755);
}

TEST_F(FileSave, FailureWhenTheDiskFillsLeavesTheOldFile) {
  // A file-size limit makes the write fail part-way, as a full disk does.
  const auto smallDisk = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  TVKStrings lines;
  for (int i = 0; i < 200; ++i)
    lines.Add("F0 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 F7");
  const std::string old = "the earlier content\r\n";
  const std::string syx = FFolder.Path("big.syx");
  const std::string txt = FFolder.Path("big.txt");
  WriteWholeFile(syx, old);
  WriteWholeFile(txt, old);

  EXPECT_EQ(SaveInChild(syx, lines, smallDisk),
            "Error while writing to " + syx + ". " + std::strerror(EFBIG));
  EXPECT_EQ(SaveInChild(txt, lines, smallDisk),
            "Error while writing to " + txt + ". " + std::strerror(EFBIG));
  EXPECT_EQ(ReadWholeFile(syx), old);
  EXPECT_EQ(ReadWholeFile(txt), old);
  EXPECT_EQ(FolderEntries(FFolder.Path()), (TLines{"big.syx", "big.txt"}));

  // Without the limit the same save goes through.
  EXPECT_EQ(SaveInChild(syx, lines, [] {}), syx + " saved succesfully (5000 bytes).");
  EXPECT_EQ(ReadWholeFile(syx).size(), 5000u);
}

TEST_F(FileSave, DialogAnswersDecideWhatIsWritten) {
  const TVKStrings lines = LinesFrom({"F0 7E F7"});
  std::optional<std::string> chosen;
  std::vector<std::string> asked;
  bool replace = false;
  FSaver.OnChooseFileName = [&](TFileSaver&) { return chosen; };
  FSaver.OnConfirmOverwrite = [&](TFileSaver&, const std::string& name) {
    asked.push_back(name);
    return replace;
  };

  EXPECT_FALSE(FSaver.SaveBox(lines, TStatusSide::Out)) << "cancelled";
  EXPECT_TRUE(FLog.Reports.empty());

  chosen = FFolder.Path("typed");
  EXPECT_TRUE(FSaver.SaveBox(lines, TStatusSide::Out));
  EXPECT_EQ(ReadWholeFile(FFolder.Path("typed.syx")), Bytes({0xF0, 0x7E, 0xF7}));
  EXPECT_TRUE(asked.empty()) << "a new file needs no question";

  // The question is about the name with its extension added.
  const std::size_t reports = FLog.Reports.size();
  EXPECT_FALSE(FSaver.SaveBox(LinesFrom({"F0 01 F7"}), TStatusSide::Out));
  EXPECT_EQ(asked, TLines{FFolder.Path("typed.syx")});
  EXPECT_EQ(ReadWholeFile(FFolder.Path("typed.syx")), Bytes({0xF0, 0x7E, 0xF7}));
  EXPECT_EQ(FLog.Reports.size(), reports);

  replace = true;
  EXPECT_TRUE(FSaver.SaveBox(LinesFrom({"F0 01 F7"}), TStatusSide::Out));
  EXPECT_EQ(ReadWholeFile(FFolder.Path("typed.syx")), Bytes({0xF0, 0x01, 0xF7}));
  EXPECT_EQ(FSaved, (TLines{FFolder.Path("typed.syx"), FFolder.Path("typed.syx")}));

  EXPECT_EQ(WithDefaultExtension("a.b/name", "syx"), "a.b/name.syx");
  EXPECT_EQ(WithDefaultExtension("name.TXT", "syx"), "name.TXT");
}

} // namespace
} // namespace pelrow
