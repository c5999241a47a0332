// Reading what a send transmits: every source in order, checked whole, with a
// hex error placed in the file where the user can find it.
#include "cli/send_input.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace pelrow::cli {
namespace {

class SendInput : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteWholeFile(FFolder.Path(name), bytes);
    return FFolder.Path(name);
  }
  bool Read(std::vector<TSendItem> items, const std::string& standardInput = {}) {
    const std::string in = Write("standard-input", standardInput);
    const int fd = ::open(in.c_str(), O_RDONLY);
    FInput = TSendInput();
    const bool read = ReadSendInput(items, fd, TInputFormat::Auto, FInput, FError);
    ::close(fd);
    return read;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < FInput.Lines.Count(); ++i)
      lines.emplace_back(FInput.Lines[i]);
    return lines;
  }

  TScratchFolder FFolder;
  TSendInput FInput;
  std::string FError;
};

// A raw file sends as the window's loader makes lines of it, one a message.
TEST_F(SendInput, JoinsEverySourceInOrder) {
  const std::string syx = Write("a.syx", std::string("\xF0\x01\xF7\x90\x3C\x40", 6));
  const std::string txt = Write("b.txt", "C0 05 // program\r\n\r\nF8");
  ASSERT_TRUE(Read({{TSendItem::TKind::Hex, "F0 7E F7"},
                    {TSendItem::TKind::File, syx},
                    {TSendItem::TKind::StandardInput, "-"},
                    {TSendItem::TKind::File, txt}},
                   std::string("B0 07 64\nFE\0 ignored", 19)));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"F0 7E F7", "F0 01 F7", "90 3C 40", "B0 07 64", "FE",
                                               "C0 05 // program", "", "F8"}));
  EXPECT_EQ(FInput.Bytes, 3 + 6 + 4 + 3);
}

// Lines count from 1 in each source; columns count from the start of the line as
// written, leading blanks included.
TEST_F(SendInput, AHexErrorNamesItsSourceLineAndColumn) {
  const std::string good = Write("good.txt", "F0 01 F7\nF0 02 F7\n");
  const std::string bad = Write("bad.txt", "F0 01 F7\n\t  90 3C 4O\n");
  EXPECT_FALSE(Read({{TSendItem::TKind::File, good}, {TSendItem::TKind::File, bad}}));
  EXPECT_EQ(FError, bad + ":2:11: Unexpected characters: \"4O\"");
  EXPECT_FALSE(Read({{TSendItem::TKind::StandardInput, "-"}}, "F0 7E\nF7 xx\n"));
  EXPECT_EQ(FError, "standard input:2:5: Unexpected characters: \"xx\"");
  EXPECT_FALSE(Read({{TSendItem::TKind::Hex, "F0 7E F7 GG"}}));
  EXPECT_EQ(FError, "--hex:1:11: Unexpected characters: \"GG\"");
}

TEST_F(SendInput, AFileThatCannotBeReadIsNamed) {
  EXPECT_FALSE(Read({{TSendItem::TKind::File, FFolder.Path("none.syx")}}));
  EXPECT_EQ(FError, "Could not open " + FFolder.Path("none.syx") + ": No such file or directory");
  EXPECT_FALSE(Read({{TSendItem::TKind::File, FFolder.Path()}}));
  EXPECT_EQ(FError, "Could not open " + FFolder.Path() + ": Is a directory");
}

} // namespace
} // namespace pelrow::cli
