// File names from the file system turned into the program's Latin-1 text.
#include "support/file_name_text.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

TEST(FileNameText, Utf8NamesBecomeLatin1AndWhatLatin1LacksAQuestionMark) {
  EXPECT_EQ(FileNameText("/home/j\xC3\xBCrgen/Gr\xC3\xBC\xC3\x9F\x65.syx"),
            "/home/j\xFCrgen/Gr\xFC\xDF\x65.syx");
  EXPECT_EQ(FileNameText("caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5.txt"), "caf\xE9 ? ?.txt");
  EXPECT_EQ(FileNameText("\xF0\x9F\x8E\xB9.mid"), "?.mid");
  EXPECT_EQ(FileNameText("plain-ascii.syx"), "plain-ascii.syx");
}

TEST(FileNameText, NamesThatAreNotUtf8AreKeptByteForByte) {
  for (const std::string& name : {
           std::string("Gr\xFC\xDF\x65.syx"), // written as Latin-1
           std::string("a\xC3"),              // cut off in the middle of a character
           std::string("\xC0\xAF.syx"),       // overlong form of "/"
           std::string("\xED\xA0\x80.syx"),   // a surrogate
           std::string("\xC3\xA9\xFF"),       // valid at first, then not
       })
    EXPECT_EQ(FileNameText(name), name);
}

} // namespace
} // namespace pelrow
