// Saving each System Exclusive message of a box into a file of its own, into
// folders that already hold files of every kind: each file ends up with its old
// content or its new one, and no temporary file is ever left beside them.
#include "app/split_saver.h"

#include "app/file_saver.h"
#include "dump_samples.h"
#include "editor/vkstrings.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>

namespace pelrow::test {
namespace {

namespace fs = std::filesystem;

const std::string First = "0001-Roland.syx";
const std::string Second = "0002-Universal-Non-Real-Time.syx";
const std::string Third = "0003-Roland.syx";

std::string Raw(const std::string& hex) {
  TVKStrings lines;
  lines.Add(hex);
  THexParser parser;
  return SyxBytesOfLines(lines, parser);
}

struct TSplitCase {
  const char* What;
  std::function<void(const std::string& parts, const std::string& elsewhere)> Prepare;
  // Why the second file could not be written; empty when all were saved.
  std::string Failure;
  // Relative to the scratch folder; nothing for a file that must not exist.
  std::map<std::string, std::optional<std::string>> Files;
};

TEST(SplitSave, EachFileIsOldOrNewAndNoTemporaryFileStays) {
  const std::vector<TSplitCase> cases{
      {"an empty folder",
       {},
       "",
       {{"parts/" + First, Raw(GsReset)},
        {"parts/" + Second, Raw(IdentityRequest)},
        {"parts/" + Third, Raw(GsResetBadSum)}}},
      {"a link keeps pointing at the file it replaced",
       [](const std::string& parts, const std::string& elsewhere) {
         WriteWholeFile(elsewhere + "/kept.syx", "old");
         fs::create_symlink(elsewhere + "/kept.syx", parts + "/" + First);
       },
       "",
       {{"elsewhere/kept.syx", Raw(GsReset)}, {"parts/" + Second, Raw(IdentityRequest)}}},
      {"two names of one file end with the later message",
       [](const std::string& parts, const std::string& elsewhere) {
         WriteWholeFile(elsewhere + "/same.syx", "old");
         fs::create_symlink(elsewhere + "/same.syx", parts + "/" + First);
         fs::create_symlink("../elsewhere/same.syx", parts + "/" + Third);
       },
       "",
       {{"elsewhere/same.syx", Raw(GsResetBadSum)}}},
      {"a read-only file stops the save after the files before it",
       [](const std::string& parts, const std::string&) {
         WriteWholeFile(parts + "/" + Second, "old");
         fs::permissions(parts + "/" + Second, fs::perms::owner_read);
       },
       "Permission denied",
       {{"parts/" + First, Raw(GsReset)}, {"parts/" + Second, "old"}, {"parts/" + Third, {}}}},
      {"a FIFO without a reader is not waited for",
       [](const std::string& parts, const std::string&) {
         ASSERT_EQ(::mkfifo((parts + "/" + Second).c_str(), 0600), 0);
       },
       "No such device or address",
       {{"parts/" + First, Raw(GsReset)}, {"parts/" + Third, {}}}},
  };
  for (const TSplitCase& c : cases) {
    SCOPED_TRACE(c.What);
    TScratchFolder scratch;
    const std::string parts = scratch.Path("parts"), elsewhere = scratch.Path("elsewhere");
    fs::create_directory(parts);
    fs::create_directory(elsewhere);
    if (c.Prepare)
      c.Prepare(parts, elsewhere);
    TVKStrings lines;
    for (const std::string& line :
         {GsReset, std::string("90 3C 7F"), IdentityRequest, GsResetBadSum})
      lines.Add(line);
    std::vector<std::pair<std::string, TStatusKind>> reports;
    TSplitSaver saver;
    saver.ShowStatus = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
      reports.emplace_back(text, kind);
    };
    saver.OnConfirmOverwrite = [](TSplitSaver&, const std::string&, int, const std::string&) {
      return true;
    };

    const bool saved = saver.SaveFolder(parts, lines, TStatusSide::In);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(saved, c.Failure.empty());
    EXPECT_EQ(reports.back().first,
              saved ? "3 System Exclusive messages saved as separate files in " + parts +
                          " (28 bytes)."
                    : "Cannot create file \"" + parts + "/" + Second + "\". " + c.Failure);
    EXPECT_EQ(reports.back().second, saved ? TStatusKind::Plain : TStatusKind::ErrorBox);
    for (const auto& [name, content] : c.Files) {
      if (content)
        EXPECT_EQ(ReadWholeFile(scratch.Path(name)), *content) << name;
      else
        EXPECT_FALSE(fs::exists(scratch.Path(name))) << name;
    }
    for (const auto& entry : fs::recursive_directory_iterator(scratch.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
}

} // namespace
} // namespace pelrow::test
