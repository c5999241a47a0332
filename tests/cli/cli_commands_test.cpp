// The small rules every command keeps: errors in one line, outputs checked before
// any work is done.
#include "cli/cli_commands.h"
#include "cli/output_file.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace pelrow::cli {
namespace {

TEST(CliCommands, DeviceMessagesBecomeOneLine) {
  EXPECT_EQ(OneLine("Cannot open MIDI output device \"A\":\r\nThe device is busy"),
            "Cannot open MIDI output device \"A\": The device is busy");
  EXPECT_EQ(OneLine("one\n\ntwo\r\n"), "one two");
  EXPECT_EQ(OneLine("plain"), "plain");
}

TEST(CliCommands, AnOutputFileIsCheckedBeforeAnythingHappens) {
  TScratchFolder folder;
  std::string error;
  EXPECT_TRUE(CheckOutputFile(folder.Path("new.syx"), error));
  EXPECT_FALSE(CheckOutputFile(folder.Path(), error));
  EXPECT_EQ(error, "Cannot create file \"" + folder.Path() + "\". Is a directory");
  EXPECT_FALSE(CheckOutputFile(folder.Path("none/new.syx"), error));
  EXPECT_EQ(error, "Cannot create file \"" + folder.Path("none/new.syx") +
                       "\". No such file or directory");
}

} // namespace
} // namespace pelrow::cli
